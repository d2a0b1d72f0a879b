#include "app/console/console_output.h"

#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace mfu {

struct ConsoleOutput::State {
  struct Item {
    std::FILE* stream;
    std::string text;
    bool redraw;
  };
  std::mutex lock;
  std::condition_variable changed;
  std::deque<Item> queue;
  bool writing = false;  // an item has been taken and is being written
  bool stop = false;
};

namespace {

void WriteWhole(std::FILE* stream, const std::string& text) {
  const int fd = fileno(stream);
  if (fd < 0) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
    return;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;  // EPIPE, EIO after a hang-up: nobody reads any more
    }
  }
}

void Writer(const std::shared_ptr<ConsoleOutput::State>& state) {
  std::unique_lock<std::mutex> guard(state->lock);
  for (;;) {
    state->changed.wait(guard, [&] { return state->stop || !state->queue.empty(); });
    if (state->queue.empty()) return;  // stopped, and everything is out
    ConsoleOutput::State::Item item = std::move(state->queue.front());
    state->queue.pop_front();
    state->writing = true;
    guard.unlock();
    WriteWhole(item.stream, item.text);
    guard.lock();
    state->writing = false;
    state->changed.notify_all();
  }
}

}  // namespace

ConsoleOutput::ConsoleOutput() : state_(std::make_shared<State>()), writer_(Writer, state_) {}

ConsoleOutput::~ConsoleOutput() {
  // What the user has not seen yet is written; a terminal that stays stopped
  // does not keep the program (whose port is closed by now) from ending:
  // the writer then finishes alone, on its own copy of the queue.
  const bool drained = Flush(5000);
  {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->stop = true;
    state_->changed.notify_all();
  }
  if (drained) {
    writer_.join();
  } else {
    writer_.detach();
  }
}

void ConsoleOutput::Write(std::FILE* stream, std::string text, bool redraw) {
  if (stream == nullptr || text.empty()) return;
  std::lock_guard<std::mutex> guard(state_->lock);
  if (redraw && !state_->queue.empty()) {
    State::Item& last = state_->queue.back();
    if (last.redraw && last.stream == stream) {
      last.text = std::move(text);
      return;
    }
  }
  state_->queue.push_back(State::Item{stream, std::move(text), redraw});
  state_->changed.notify_all();
}

bool ConsoleOutput::Flush(Millis limit) {
  std::unique_lock<std::mutex> guard(state_->lock);
  return state_->changed.wait_for(guard, std::chrono::milliseconds(limit),
                                  [&] { return state_->queue.empty() && !state_->writing; });
}

std::string Printable(const std::string& text, bool latin1) {
  std::string shown;
  shown.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    const bool c0 = (c < 0x20 && c != '\r' && c != '\n' && c != '\t') || c == 0x7F;
    // C1 controls: in a Latin-1 terminal every byte of 0x80..0x9F; the five
    // bytes Windows-1252 leaves undefined would become them in UTF-8.
    const bool c1 = (latin1 && c >= 0x80 && c < 0xA0) || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
    if (c0) {
      shown += '^';
      shown += static_cast<char>(c == 0x7F ? '?' : c + 0x40);
    } else if (c1) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      shown += '<';
      shown += kHex[c >> 4];
      shown += kHex[c & 15];
      shown += '>';
    } else {
      shown += ch;
    }
  }
  return shown;
}

}  // namespace mfu
