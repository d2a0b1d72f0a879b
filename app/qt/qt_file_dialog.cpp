#include "app/qt/qt_file_dialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstring>
#include <string>

#include "resources/resources.h"
#include "ui/cp1252.h"
#include "ui/log_export.h"

namespace mfu {
namespace {

QString FromCp1252(const char* text) {
  if (text == nullptr) return QString();
  return QString::fromStdU16String(Cp1252ToUtf16(text));
}

// Text `id` with its "%s" replaced by `argument`.
QString LoadFormatted(unsigned id, const QString& argument) {
  char text[256];
  LoadText(id, text, static_cast<int>(sizeof text));
  QString result = FromCp1252(text);
  const qsizetype at = result.indexOf(QLatin1String("%s"));
  if (at >= 0) result.replace(at, 2, argument);
  return result;
}

QString Caption() { return QCoreApplication::applicationName(); }

struct Filter {
  QString label;     // "Alle Dateien (*.*)", as the dialog shows it
  QString patterns;  // "*.*"
};

// Pairs of NUL-terminated texts (name, pattern), ended by an empty text.
QList<Filter> ParseFilters(const char* list) {
  QList<Filter> filters;
  if (list == nullptr) return filters;
  const char* p = list;
  while (*p != '\0') {
    const char* name = p;
    p += std::strlen(p) + 1;
    if (*p == '\0') break;  // a name without a pattern ends the list
    const char* pattern = p;
    p += std::strlen(p) + 1;
    const QString patterns = QString::fromLatin1(pattern).replace(QLatin1Char(';'), QLatin1Char(' '));
    filters.append(Filter{FromCp1252(name) + QLatin1String(" (") + patterns + QLatin1Char(')'), patterns});
  }
  return filters;
}

class LogFileDialog final : public QFileDialog {
 public:
  LogFileDialog(QWidget* parent, std::uint32_t flags) : QFileDialog(parent), flags_(flags) {}

  void accept() override {
    const QStringList files = selectedFiles();
    if (files.isEmpty()) return;
    const QFileInfo info(files.first());
    // A folder is entered, not chosen: the base dialog does that.
    if (info.isDir()) {
      QFileDialog::accept();
      return;
    }
    if ((flags_ & kOfnPathMustExist) != 0 && !info.absoluteDir().exists()) {
      QMessageBox box(QMessageBox::NoIcon, Caption(),
                      LoadFormatted(kTextLogFolderMissing, QDir::toNativeSeparators(info.absolutePath())),
                      QMessageBox::Ok, this);
      box.exec();
      return;
    }
    if ((flags_ & kOfnCreatePrompt) != 0 && !info.exists()) {
      QMessageBox box(QMessageBox::Question, Caption(),
                      LoadFormatted(kTextLogCreateQuestion, QDir::toNativeSeparators(info.absoluteFilePath())),
                      QMessageBox::Yes | QMessageBox::No, this);
      box.setDefaultButton(QMessageBox::Yes);
      if (box.exec() != QMessageBox::Yes) return;
    }
    QFileDialog::accept();
  }

 private:
  std::uint32_t flags_;
};

// The dialog hands a filter's patterns to its file model, where "*.*"
// matches only names with a dot; on Windows it matches every file, and so
// it does here.
void ShowAllFilesFor(QFileDialog& dialog, const QList<Filter>& filters) {
  const QString selected = dialog.selectedNameFilter();
  for (const Filter& filter : filters) {
    if (filter.label != selected) continue;
    const QStringList patterns = filter.patterns.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (!patterns.contains(QLatin1String("*.*"))) return;
    if (auto* model = dialog.findChild<QFileSystemModel*>(); model != nullptr) {
      QStringList widened = patterns;
      widened.append(QStringLiteral("*"));
      model->setNameFilters(widened);
    }
    return;
  }
}

}  // namespace

bool RunQtFileDialog(QWidget* parent, FileDialogRequest& request) {
  if (request.file == nullptr || request.file_capacity == 0) return false;
  if (std::memchr(request.file, '\0', request.file_capacity) == nullptr) return false;

  LogFileDialog dialog(parent, request.flags);
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  // This is an open-file dialog that may create: any name, an
  // existing file is extended, so there is no overwrite question either.
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QString());
  dialog.setOption(QFileDialog::ReadOnly, false);
  if (request.title != nullptr) dialog.setWindowTitle(FromCp1252(request.title));

  const QList<Filter> filters = ParseFilters(request.filter);
  QStringList labels;
  for (const Filter& filter : filters) labels.append(filter.label);
  if (!labels.isEmpty()) {
    dialog.setNameFilters(labels);
    const int index = request.filter_index >= 1 && request.filter_index <= labels.size() ? request.filter_index : 1;
    dialog.selectNameFilter(labels.at(index - 1));
  }

  if (request.initial_dir != nullptr && *request.initial_dir != '\0') {
    dialog.setDirectory(QFile::decodeName(request.initial_dir));
  }
  dialog.selectFile(QFile::decodeName(request.file));

  ShowAllFilesFor(dialog, filters);
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, &filters](const QString&) {
    // After the dialog has applied the filter's own patterns.
    QTimer::singleShot(0, &dialog, [&dialog, &filters] { ShowAllFilesFor(dialog, filters); });
  });

  if (dialog.exec() != QDialog::Accepted) return false;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return false;
  const QByteArray path = QFile::encodeName(QDir::toNativeSeparators(files.first()));
  if (path.isEmpty() || static_cast<std::size_t>(path.size()) + 1 > request.file_capacity) return false;
  std::memcpy(request.file, path.constData(), static_cast<std::size_t>(path.size()));
  request.file[path.size()] = '\0';
  return true;
}

}  // namespace mfu
