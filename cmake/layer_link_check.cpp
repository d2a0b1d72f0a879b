// An empty program into which one layer's archive is linked whole, with only
// the libraries that layer links: a call from the layer into a layer above it
// is then an undefined symbol, and the build stops there.
int main() { return 0; }
