// The export's Qt file dialog, driven offscreen: what it offers, what it
// hands back, and the two questions its flags ask for.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "app/qt/qt_file_dialog.h"
#include "ui/log_export.h"
#include "ui/window.h"

namespace mfu {
namespace {

using namespace std::string_literals;

const char kFilters[] = "Firmware Update Log-Dateien\0*.hlg\0Alle Dateien\0*.*\0";

// One application for the whole program, made on first use and destroyed
// after the last test, before the program's static objects go.
std::unique_ptr<QApplication> g_app;

QApplication* App() {
  static int argc = 1;
  static char name[] = "mfu_qt_file_dialog_test";
  static char* argv[] = {name, nullptr};
  if (!g_app) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    g_app = std::make_unique<QApplication>(argc, argv);
  }
  return g_app.get();
}

class QtEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { g_app.reset(); }
};
[[maybe_unused]] const ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Owner of one test's timers: a driver that never found its widget must not
// act in the next test.
QObject* g_scope = nullptr;

// Calls `drive` once with the next modal widget of type T that shows up.
template <typename T>
void OnNextModal(std::function<void(T*)> drive) {
  auto* timer = new QTimer(g_scope);
  auto seen = std::make_shared<bool>(false);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, drive, seen] {
    if (*seen) return;
    if (T* widget = qobject_cast<T*>(QApplication::activeModalWidget()); widget != nullptr && widget->isVisible()) {
      *seen = true;
      timer->stop();
      timer->deleteLater();
      drive(widget);
    }
  });
  timer->start(10);
}

// A test that goes wrong must not hang: every modal widget is closed after
// a few seconds.
void Watchdog() {
  QTimer::singleShot(5000, g_scope, [] {
    ADD_FAILURE() << "dialog left open";
    while (QWidget* modal = QApplication::activeModalWidget()) {
      if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->reject();
      } else {
        modal->close();
      }
      QCoreApplication::processEvents();
    }
  });
}

void Type(QFileDialog* dialog, const QString& text) {
  auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  ASSERT_NE(edit, nullptr);
  // As a user types: into the focused name field of the active dialog, so
  // that the dialog follows each key (and drops its earlier selection).
  QApplication::setActiveWindow(dialog);
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClicks(edit, text);
}

class QtFileDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    g_scope = new QObject;
    ASSERT_TRUE(dir_.isValid());
    std::memset(file_, 0, sizeof file_);
    std::strcpy(file_, "*.log");
    request_.filter = kFilters;
    request_.filter_index = 1;
    request_.file = file_;
    request_.file_capacity = sizeof file_;
    request_.title = "Speichern Update-Log unter ...";
    request_.flags = kLogDialogFlags;
    Watchdog();
  }

  void TearDown() override {
    delete g_scope;
    g_scope = nullptr;
  }

  std::string Dir() const { return QFile::encodeName(dir_.path()).toStdString(); }

  QTemporaryDir dir_;
  char file_[256];
  FileDialogRequest request_;
};

TEST_F(QtFileDialogTest, OffersTheFiltersTitleAndProposalAsAsked) {
  const std::string dir = Dir();
  request_.initial_dir = dir.c_str();
  std::strcpy(file_, "update.txt");
  bool driven = false;
  OnNextModal<QFileDialog>([&](QFileDialog* dialog) {
    driven = true;
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Speichern Update-Log unter ..."));
    EXPECT_EQ(dialog->nameFilters(),
              QStringList({QStringLiteral("Firmware Update Log-Dateien (*.hlg)"), QStringLiteral("Alle Dateien (*.*)")}));
    EXPECT_EQ(dialog->selectedNameFilter(), QStringLiteral("Firmware Update Log-Dateien (*.hlg)"));
    EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog->defaultSuffix(), QString());
    EXPECT_EQ(dialog->fileMode(), QFileDialog::AnyFile);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(QDir(dialog->directory()).canonicalPath(), QDir(dir_.path()).canonicalPath());
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), QStringLiteral("update.txt"));
    dialog->reject();
  });
  EXPECT_FALSE(RunQtFileDialog(nullptr, request_));
  EXPECT_TRUE(driven);
  EXPECT_STREQ(file_, "update.txt");  // untouched on cancel
}

TEST_F(QtFileDialogTest, SecondFilterIndexSelectsAllFilesAndShowsNamesWithoutDot) {
  request_.filter_index = 2;
  const std::string dir = Dir();
  request_.initial_dir = dir.c_str();
  OnNextModal<QFileDialog>([&](QFileDialog* dialog) {
    EXPECT_EQ(dialog->selectedNameFilter(), QStringLiteral("Alle Dateien (*.*)"));
    auto* model = dialog->findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    EXPECT_TRUE(model->nameFilters().contains(QStringLiteral("*")));
    dialog->reject();
  });
  EXPECT_FALSE(RunQtFileDialog(nullptr, request_));
}

TEST_F(QtFileDialogTest, ExistingFileIsChosenWithoutQuestion) {
  const QString path = dir_.filePath(QStringLiteral("old.hlg"));
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  const std::string dir = Dir();
  request_.initial_dir = dir.c_str();
  OnNextModal<QFileDialog>([&](QFileDialog* dialog) {
    Type(dialog, QStringLiteral("old.hlg"));
    static_cast<QDialog*>(dialog)->accept();  // as the Open button does
  });
  ASSERT_TRUE(RunQtFileDialog(nullptr, request_));
  EXPECT_EQ(std::string(file_), QFile::encodeName(path).toStdString());
}

TEST_F(QtFileDialogTest, NewNameAsksAndNoStaysInTheDialog) {
  const std::string dir = Dir();
  request_.initial_dir = dir.c_str();
  int questions = 0;
  OnNextModal<QFileDialog>([&](QFileDialog* dialog) {
    Type(dialog, QStringLiteral("neu.hlg"));
    OnNextModal<QMessageBox>([&](QMessageBox* box) {
      ++questions;
      EXPECT_EQ(box->icon(), QMessageBox::Question);
      EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
      EXPECT_TRUE(box->text().startsWith(QStringLiteral("Die Datei ")));
      EXPECT_TRUE(box->text().contains(QStringLiteral("neu.hlg")));
      EXPECT_TRUE(box->text().endsWith(QStringLiteral(" existiert nicht. Soll sie erstellt werden ?")));
      box->button(QMessageBox::No)->click();
    });
    static_cast<QDialog*>(dialog)->accept();  // as the Open button does
    // Still open after No: the user may pick another name or cancel.
    EXPECT_TRUE(dialog->isVisible());
    dialog->reject();
  });
  EXPECT_FALSE(RunQtFileDialog(nullptr, request_));
  EXPECT_EQ(questions, 1);
  EXPECT_FALSE(QFile::exists(dir_.filePath(QStringLiteral("neu.hlg"))));
}

TEST_F(QtFileDialogTest, NameWithoutExtensionIsTakenUnchangedAfterYes) {
  const std::string dir = Dir();
  request_.initial_dir = dir.c_str();
  OnNextModal<QFileDialog>([&](QFileDialog* dialog) {
    Type(dialog, QStringLiteral("mylog"));
    OnNextModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    static_cast<QDialog*>(dialog)->accept();  // as the Open button does
  });
  ASSERT_TRUE(RunQtFileDialog(nullptr, request_));
  EXPECT_EQ(std::string(file_), QFile::encodeName(dir_.filePath(QStringLiteral("mylog"))).toStdString());
  // The dialog creates nothing; the export does.
  EXPECT_FALSE(QFile::exists(dir_.filePath(QStringLiteral("mylog"))));
}

TEST_F(QtFileDialogTest, ProposedNameIsChosenAsItStands) {
  const std::string dir = Dir();
  request_.initial_dir = dir.c_str();
  std::strcpy(file_, "update.txt");
  OnNextModal<QFileDialog>([&](QFileDialog* dialog) {
    OnNextModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    static_cast<QDialog*>(dialog)->accept();  // Open pressed at once
  });
  ASSERT_TRUE(RunQtFileDialog(nullptr, request_));
  EXPECT_EQ(std::string(file_), QFile::encodeName(dir_.filePath(QStringLiteral("update.txt"))).toStdString());
}

TEST_F(QtFileDialogTest, MissingFolderIsRefusedWithANotice) {
  const std::string dir = Dir();
  request_.initial_dir = dir.c_str();
  int notices = 0;
  OnNextModal<QFileDialog>([&](QFileDialog* dialog) {
    Type(dialog, dir_.filePath(QStringLiteral("gibt/es/nicht.hlg")));
    OnNextModal<QMessageBox>([&](QMessageBox* box) {
      ++notices;
      EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
      EXPECT_TRUE(box->text().startsWith(QStringLiteral("Der Ordner ")));
      EXPECT_TRUE(box->text().endsWith(QStringLiteral(" existiert nicht.")));
      box->button(QMessageBox::Ok)->click();
    });
    static_cast<QDialog*>(dialog)->accept();  // as the Open button does
    EXPECT_TRUE(dialog->isVisible());
    dialog->reject();
  });
  EXPECT_FALSE(RunQtFileDialog(nullptr, request_));
  EXPECT_EQ(notices, 1);
}

TEST_F(QtFileDialogTest, PathLongerThanTheFieldIsNoChoice) {
  // A field of 16 bytes cannot hold the temporary folder's path.
  char small[16] = "x.hlg";
  request_.file = small;
  request_.file_capacity = sizeof small;
  const QString path = dir_.filePath(QStringLiteral("old.hlg"));
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  const std::string dir = Dir();
  request_.initial_dir = dir.c_str();
  OnNextModal<QFileDialog>([&](QFileDialog* dialog) {
    Type(dialog, QStringLiteral("old.hlg"));
    static_cast<QDialog*>(dialog)->accept();  // as the Open button does
  });
  EXPECT_FALSE(RunQtFileDialog(nullptr, request_));
  EXPECT_STREQ(small, "x.hlg");
}

TEST_F(QtFileDialogTest, UnterminatedFieldIsRefusedBeforeAnyDialog) {
  char field[4] = {'a', 'b', 'c', 'd'};
  request_.file = field;
  request_.file_capacity = sizeof field;
  EXPECT_FALSE(RunQtFileDialog(nullptr, request_));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace mfu
