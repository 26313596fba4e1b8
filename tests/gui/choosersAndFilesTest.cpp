#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>
#include <atomic>
#include <functional>
#include <thread>

#include "app/dialog/errorBox.h"
#include "app/dialog/fileChooser.h"
#include "app/dialog/fileLocations.h"
#include "app/errorReport.h"
#include "app/programPath.h"
#include "support/testSupport.h"

inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace {

// Plays the person at the screen: answers the first active modal window of kind Modal, then
// closes any modal window still showing (a failure then ends instead of hanging).
template <class Modal>
struct Person {
  explicit Person(std::function<void(Modal*)> answer) {
    QObject::connect(&timer, &QTimer::timeout, [this, answer] {
      QWidget* active = QApplication::activeModalWidget();
      if (auto* modal = qobject_cast<Modal*>(active); modal && !answered) {
        answered = true;
        answer(modal);
      } else if (auto* other = qobject_cast<QDialog*>(active); other && answered) {
        other->reject();
      }
    });
    timer.start(10);
  }
  bool answered = false;
  QTimer timer;
};

}  // namespace

// A chooser starts in the folder of the first recent file with its name filled in (the root
// keeps its '/'), or in the home folder when there is none.
TEST(ChooserRequest, StartsFromTheRecentListOrTheHomeFolder) {
  const char* titles[] = {"Load Reference DXF-file", "Load Terget DXF-file",
                          "Save Terget DXF-file"};
  const std::tuple<ChooserKind, LineListPtr, const char*> cases[] = {
      {ChooserKind::openReference, testLines({"/out/tgt.dxf", "/a.dxf"}), "/out|tgt.dxf"},
      {ChooserKind::openReference, testLines({"/model.dxf"}), "/|model.dxf"},
      {ChooserKind::openTarget, testLines({"model.dxf"}), "|model.dxf"},
      {ChooserKind::openTarget, testLines({}), "/home/a|"},
      {ChooserKind::openTarget, nullptr, "/home/a|"},
      {ChooserKind::saveTarget, testLines({"/data/sub/"}), "/data/sub|"},
      {ChooserKind::saveTarget, testLines({""}), "/home/a|"},
  };
  for (const auto& [kind, recent, start] : cases) {
    ChooserRequest request = chooserRequest(kind, recent.get(), "/home/a");
    SCOPED_TRACE(start);
    EXPECT_EQ(request.kind, kind);
    EXPECT_EQ(request.title, titles[static_cast<int>(kind)]);
    EXPECT_EQ(request.save, kind == ChooserKind::saveTarget);
    EXPECT_EQ(request.startFolder + '|' + request.startName, start);
    EXPECT_EQ(request.nameFilters, QStringList({"DXF files(*.dxf)", "All files (*.*)"}));
    EXPECT_EQ(request.defaultSuffix, "dxf");
  }
}

// The Qt file dialog shows the request: the open chooser takes existing files only, the save
// chooser asks before overwriting and adds ".dxf" to a name typed without it.
TEST(QtFileChooser, ShowsTheRequestAndGivesTheChosenPath) {
  ScratchFolder folder;
  writeFileBytes(folder.file("ref.dxf"), "0\r\nEOF\r\n");
  LineListPtr recent = testLines({folder.file("ref.dxf").c_str()});
  const std::tuple<ChooserKind, QFileDialog::FileMode, QString, const char*> cases[] = {
      {ChooserKind::openReference, QFileDialog::ExistingFile, "", "ref.dxf"},
      {ChooserKind::saveTarget, QFileDialog::AnyFile, "result", "result.dxf"},
  };
  for (const auto& [kind, mode, text, chosen] : cases) {
    const QFileDialog::FileMode fileMode = mode;  // lambdas capture variables, not bindings
    const QString typed = text;
    ChooserRequest request = chooserRequest(kind, recent.get(), QDir::homePath());
    SCOPED_TRACE(request.title.toStdString());
    Person<QFileDialog> person([&](QFileDialog* dialog) {
      EXPECT_EQ(dialog->windowTitle(), request.title);
      EXPECT_EQ(dialog->acceptMode(),
                request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
      EXPECT_EQ(dialog->fileMode(), fileMode);
      EXPECT_EQ(dialog->testOption(QFileDialog::DontConfirmOverwrite), !request.save);
      EXPECT_EQ(dialog->selectedNameFilter(), "DXF files(*.dxf)");
      EXPECT_EQ(dialog->directory().absolutePath().toStdString(), folder.path);
      auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
      EXPECT_EQ(name->text(), "ref.dxf");
      if (!typed.isEmpty()) {  // typed as a person would, which drops the selected file
        QApplication::setActiveWindow(dialog);
        name->setFocus();
        name->selectAll();
        QTest::keyClicks(name, typed);
      }
      static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_EQ(QtFileChooser().choose(nullptr, request).toStdString(), folder.file(chosen));
    EXPECT_TRUE(person.answered);
  }
}

// The files stay beside a program whose folder can be written, else in the configuration
// folder; the notes are the first candidate present, unless that is beside the data files.
TEST(FileLocations, WritableProgramFolderKeepsTheFilesElseTheConfigFolder) {
  const QString beside = "/p/bin/readme.txt", shared = "/p/share/readme.txt", usr = "/u/readme.txt";
  const std::tuple<const char*, bool, QStringList, const char*, QString> cases[] = {
      {"portable copy", true, {beside}, "/p/bin", ""},
      {"installed", false, {shared}, "/cfg", shared},
      {"read-only copy", false, {beside, usr}, "/cfg", beside},
      {"user's own prefix", true, {shared, usr}, "/p/bin", shared},
      {"moved install", false, {usr}, "/cfg", usr},
      {"no notes", false, {}, "/cfg", ""},
  };
  for (const auto& [name, writable, present, dataFolder, notes] : cases) {
    SCOPED_TRACE(name);
    static QStringList exists;
    exists = present;
    FileLocations locations =
        chooseFileLocations("/p/bin", writable, "/cfg", {beside, shared, usr},
                            [](const QString& path) { return exists.contains(path); });
    EXPECT_EQ(locations.dataFolder, dataFolder);
    EXPECT_EQ(locations.notesPath, notes);
  }
  QStringList forProgram = notesCandidatesFor("/opt/m/bin");
  ASSERT_EQ(forProgram.size(), 3);
  EXPECT_EQ(forProgram.first(2),
            QStringList({"/opt/m/bin/readme.txt", "/opt/m/share/morvane/readme.txt"}));
}

// The report is a modal box titled "Morvane Error" with the critical icon, from the dialog's
// thread and from a run's thread alike, and the message also lands in "perr.txt".
TEST(ErrorBox, ShowsTheReportModallyFromAnyThread) {
  ScratchFolder folder;
  setProgramDirectoryTo(folder.path.c_str());
  setErrorPresenter(showErrorBox);
  for (bool fromWorker : {false, true}) {
    const char* name = fromWorker ? "gcrealloc" : "gcalloc";
    SCOPED_TRACE(name);
    QString shown;
    Person<QMessageBox> person([&](QMessageBox* box) {
      EXPECT_EQ(box->windowTitle(), "Morvane Error");
      EXPECT_EQ(box->icon(), QMessageBox::Critical);
      shown = box->text();
      box->accept();
    });
    std::atomic<bool> done{false};
    std::thread worker([&] {  // reports from here, or only ends
      if (fromWorker) reportError("%s", name);
      done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
    worker.join();
    if (!fromWorker) reportError("%s", name);
    EXPECT_EQ(shown, name);
    EXPECT_TRUE(person.answered);
    EXPECT_EQ(readFileBytes(folder.file("perr.txt")), std::string(name) + "\r\n");
  }
  setErrorPresenter(nullptr);
  setProgramDirectory();
}
