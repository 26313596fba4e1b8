#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>
#include <thread>

#include "app/dialog/errorBox.h"
#include "app/dialog/fileChooser.h"
#include "app/dialog/fileLocations.h"
#include "app/errorReport.h"
#include "app/programPath.h"
#include "guiTestSupport.h"

namespace {

// Plays the person at the screen: each step is offered the active modal window until it
// answers true, then the next step follows.
class ModalScript {
 public:
  using Step = std::function<bool(QWidget* modal)>;
  explicit ModalScript(std::vector<Step> steps) : steps_(std::move(steps)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal && next_ < steps_.size() && steps_[next_](modal)) ++next_;
    });
    timer_.start(10);
  }
  bool finished() const { return next_ == steps_.size(); }

 private:
  std::vector<Step> steps_;
  size_t next_ = 0;
  QTimer timer_;
};

QLineEdit* fileNameEdit(QWidget* modal) {
  return modal->findChild<QLineEdit*>("fileNameEdit");
}

// Types a file name as a person would: into the focused name field, replacing its text (which
// also drops the file selected in the list).
void typeFileName(QFileDialog* dialog, const QString& name) {
  QApplication::setActiveWindow(dialog);
  QLineEdit* edit = fileNameEdit(dialog);
  edit->setFocus();
  EXPECT_TRUE(edit->hasFocus());
  edit->selectAll();
  QTest::keyClicks(edit, name);
}

// Accepts once the script's step has returned, for an accept that opens a message box.
void acceptLater(QDialog* dialog) {
  QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
}

}  // namespace

// ---- the requests ----

TEST(SplitStartPath, GivesFolderAndName) {
  const std::pair<QString, std::pair<QString, QString>> cases[] = {
      {"/data/model.dxf", {"/data", "model.dxf"}},
      {"/model.dxf", {"/", "model.dxf"}},
      {"model.dxf", {"", "model.dxf"}},
      {"/data/sub/", {"/data/sub", ""}},
  };
  for (const auto& [path, expected] : cases)
    EXPECT_EQ(splitStartPath(path), expected) << path.toStdString();
}

TEST(ChooserRequest, StartsFromTheRecentListOrTheHomeFolder) {
  LineListPtr recent = testLines({"/out/tgt.dxf", "/older/one.dxf"});
  LineListPtr emptyFirst = testLines({""});
  LineListPtr none = testLines({});
  struct Case {
    ChooserKind kind;
    const LineList* recent;
    const char* title;
    bool save;
    const char* folder;
    const char* name;
  };
  const Case cases[] = {
      {ChooserKind::openReference, recent.get(), "Load Reference DXF-file", false, "/out",
       "tgt.dxf"},
      {ChooserKind::openTarget, none.get(), "Load Terget DXF-file", false, "/home/someone", ""},
      {ChooserKind::saveTarget, recent.get(), "Save Terget DXF-file", true, "/out", "tgt.dxf"},
      {ChooserKind::saveTarget, emptyFirst.get(), "Save Terget DXF-file", true, "/home/someone",
       ""},
  };
  for (const Case& c : cases) {
    ChooserRequest request = chooserRequest(c.kind, c.recent, "/home/someone");
    SCOPED_TRACE(c.title);
    EXPECT_EQ(request.title, c.title);
    EXPECT_EQ(request.save, c.save);
    EXPECT_EQ(request.startFolder, c.folder);
    EXPECT_EQ(request.startName, c.name);
    EXPECT_EQ(request.nameFilters, QStringList({"DXF files(*.dxf)", "All files (*.*)"}));
    EXPECT_EQ(request.defaultSuffix, "dxf");
  }
}

// ---- the Qt file dialog behind the chooser ----

class QtFileChooserTest : public ::testing::Test {
 protected:
  void SetUp() override { writeFileBytes(folder.file("ref.dxf"), "0\r\nEOF\r\n"); }
  QString path(const char* name) const { return QString::fromStdString(folder.file(name)); }
  ChooserRequest request(ChooserKind kind) const {
    LineListPtr recent = testLines({folder.file("ref.dxf").c_str()});
    return chooserRequest(kind, recent.get(), QDir::homePath());
  }
  ScratchFolder folder;
  QtFileChooser chooser;
};

TEST_F(QtFileChooserTest, OpenChooserIsSetUpAndGivesTheFileFilledIn) {
  ModalScript person({[&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (!dialog) return false;
    EXPECT_EQ(dialog->windowTitle(), "Load Reference DXF-file");
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(dialog->selectedNameFilter(), "DXF files(*.dxf)");
    EXPECT_EQ(dialog->directory().absolutePath().toStdString(), folder.path);
    EXPECT_EQ(fileNameEdit(dialog)->text(), "ref.dxf");
    static_cast<QDialog*>(dialog)->accept();
    return true;
  }});
  EXPECT_EQ(chooser.choose(nullptr, request(ChooserKind::openReference)), path("ref.dxf"));
  EXPECT_TRUE(person.finished());
}

TEST_F(QtFileChooserTest, OpenChooserRefusesAMissingFile) {
  ModalScript person({
      [&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog) return false;
        typeFileName(dialog, "missing.dxf");
        acceptLater(dialog);
        return true;
      },
      [&](QWidget* modal) {  // the "not found" warning
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) return false;
        box->accept();
        return true;
      },
      [&](QWidget* modal) {  // still open: the person gives up
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog) return false;
        dialog->reject();
        return true;
      },
  });
  EXPECT_TRUE(chooser.choose(nullptr, request(ChooserKind::openTarget)).isNull());
  EXPECT_TRUE(person.finished());
}

TEST_F(QtFileChooserTest, SaveChooserAddsTheSuffixAndAsksBeforeOverwriting) {
  // A new name typed without extension comes back with ".dxf".
  ModalScript typed({[&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (!dialog) return false;
    EXPECT_EQ(dialog->windowTitle(), "Save Terget DXF-file");
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_FALSE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
    typeFileName(dialog, "result");
    static_cast<QDialog*>(dialog)->accept();
    return true;
  }});
  EXPECT_EQ(chooser.choose(nullptr, request(ChooserKind::saveTarget)), path("result.dxf"));
  EXPECT_TRUE(typed.finished());

  // The existing file filled in: the question comes, and "Yes" gives the path.
  bool asked = false;
  ModalScript overwrite({
      [&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog) return false;
        acceptLater(dialog);
        return true;
      },
      [&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) return false;
        asked = true;
        box->button(QMessageBox::Yes)->click();
        return true;
      },
  });
  EXPECT_EQ(chooser.choose(nullptr, request(ChooserKind::saveTarget)), path("ref.dxf"));
  EXPECT_TRUE(asked);
}

// ---- where the files live ----

TEST(FileLocations, WritableProgramFolderKeepsTheFilesElseTheConfigFolder) {
  const QStringList candidates = {"/opt/m/bin/readme.txt", "/opt/m/share/morvane/readme.txt",
                                  "/usr/share/morvane/readme.txt"};
  struct Case {
    const char* name;
    bool writable;
    QStringList present;
    const char* dataFolder;
    const char* notes;
  };
  const Case cases[] = {
      {"portable copy", true, {"/opt/m/bin/readme.txt"}, "/opt/m/bin", ""},
      {"installed",
       false,
       {"/opt/m/share/morvane/readme.txt"},
       "/cfg/morvane",
       "/opt/m/share/morvane/readme.txt"},
      {"read-only copy",
       false,
       {"/opt/m/bin/readme.txt", "/usr/share/morvane/readme.txt"},
       "/cfg/morvane",
       "/opt/m/bin/readme.txt"},
      {"user's own prefix",
       true,
       {"/opt/m/share/morvane/readme.txt"},
       "/opt/m/bin",
       "/opt/m/share/morvane/readme.txt"},
      {"moved install",
       false,
       {"/usr/share/morvane/readme.txt"},
       "/cfg/morvane",
       "/usr/share/morvane/readme.txt"},
      {"no notes", false, {}, "/cfg/morvane", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    static QStringList present;
    present = c.present;
    FileLocations locations =
        chooseFileLocations("/opt/m/bin", c.writable, "/cfg/morvane", candidates,
                            [](const QString& path) { return present.contains(path); });
    EXPECT_EQ(locations.dataFolder, c.dataFolder);
    EXPECT_EQ(locations.notesPath, c.notes);
  }
  QStringList forProgram = notesCandidatesFor("/opt/m/bin");
  ASSERT_EQ(forProgram.size(), 3);
  EXPECT_EQ(forProgram[0], "/opt/m/bin/readme.txt");
  EXPECT_EQ(forProgram[1], "/opt/m/share/morvane/readme.txt");
}

// ---- the error report ----

// The report is a modal box titled "Morvane Error" with the critical icon, from the dialog's
// thread and from a run's thread alike, and the message also lands in "perr.txt".
TEST(ErrorBox, ShowsTheReportModallyFromAnyThread) {
  ScratchFolder folder;
  setProgramDirectoryTo(folder.path.c_str());
  setErrorPresenter(showErrorBox);
  for (bool fromWorker : {false, true}) {
    SCOPED_TRACE(fromWorker ? "run's thread" : "dialog's thread");
    QString shown;
    ModalScript person({[&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      if (!box) return false;
      EXPECT_EQ(box->windowTitle(), "Morvane Error");
      EXPECT_EQ(box->icon(), QMessageBox::Critical);
      shown = box->text();
      box->accept();
      return true;
    }});
    const char* name = fromWorker ? "gcrealloc" : "gcalloc";
    if (fromWorker) {
      std::atomic<bool> done{false};
      std::thread worker([&] {
        reportError("%s", name);
        done = true;
      });
      EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
      worker.join();
    } else {
      reportError("%s", name);
    }
    EXPECT_EQ(shown, name);
    EXPECT_EQ(readFileBytes(folder.file("perr.txt")), std::string(name) + "\r\n");
  }
  setErrorPresenter(nullptr);
  setProgramDirectory();
}
