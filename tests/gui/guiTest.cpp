// The dialog and its Qt parts, driven as a person would with QTest on the offscreen platform.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>
#include <atomic>
#include <thread>

#include "app/dialog/dialogTemplate.h"
#include "app/dialog/errorBox.h"
#include "app/dialog/fileLocations.h"
#include "app/dialog/mainDialog.h"
#include "app/errorReport.h"
#include "app/notesPath.h"
#include "app/programPath.h"
#include "match/matchingRun.h"
#include "output/dxfWriter.h"
#include "support/testSupport.h"
#include "textfiles/settings.h"

inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace {

// A dialog whose program folder is a scratch folder; the test answers its choosers with the
// queued answers (none left cancels) and records where each chooser started.
class Dialog : public ::testing::Test, public FileChooser {
 protected:
  QString choose(QWidget*, const ChooserRequest& request) override {
    started << QString::number(int(request.kind)) + request.startFolder + '|' + request.startName;
    return answers.isEmpty() ? QString() : answers.takeFirst();
  }
  void SetUp() override { setProgramDirectoryTo(folder.path.c_str()), setNotesPath(nullptr); }
  void TearDown() override {
    dialog.reset();
    if (referenceList || targetList || settingsLines) saveSettingsAndLists();
    releaseRunData(), setProgramDirectory(), textureRotation = 0;
  }
  // Shows a dialog whose run, unless given, records its paths and fails, and which may not save.
  void open(MainDialog::RunFunction run = nullptr, MainDialog::SaveFunction save = nullptr) {
    auto record = [this](DialogPort*, const char* reference, const char* target) {
      return calls << QString(reference) + '|' + target, 0;
    };
    auto neverSave = [](const char*) { return ADD_FAILURE() << "nothing may be written", 0; };
    dialog = std::make_unique<MainDialog>(*this, run ? run : record, save ? save : neverSave);
    dialog->show();
    QApplication::setActiveWindow(dialog.get());
    EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
  }
  QComboBox* box(int id) const { return qobject_cast<QComboBox*>(dialog->control(id)); }
  QStringList progress() const {
    QStringList lines;
    for (auto* list = dialog->findChild<QListWidget*>(); lines.size() < list->count();)
      lines << list->item(lines.size())->text();
    return lines;
  }
  void type(int id, const QString& text) {  // replaces what the box held
    box(id)->setFocus(), box(id)->lineEdit()->selectAll();
    QTest::keyClick(box(id)->lineEdit(), Qt::Key_Delete);
    QTest::keyClicks(box(id)->lineEdit(), text);
  }
  void click(int id) { QTest::mouseClick(dialog->control(id), Qt::LeftButton); }
  std::string file(const char* name) const { return folder.file(name); }

  ScratchFolder folder;
  QStringList answers, started, calls;
  std::unique_ptr<MainDialog> dialog;
};

// Plays the person at the screen: answers the first active modal window of kind Modal, then
// rejects any other modal window (a failure then ends instead of hanging).
template <class Modal>
struct Person {
  explicit Person(std::function<void(Modal*)> answer) {
    QObject::connect(&timer, &QTimer::timeout, [this, answer] {
      QWidget* active = QApplication::activeModalWidget();
      if (auto* modal = qobject_cast<Modal*>(active); modal && !answered) {
        answered = true, answer(modal);
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

// Dialog units round half away from zero; the controls keep the template's ids, texts, places
// and tab order; the screenshot (shown in the README) is kept as a test artifact.
TEST_F(Dialog, ControlsFollowTheTemplateAndTheScreenshotIsSaved) {
  EXPECT_EQ(DialogUnits({6, 13}).toPixels(274, 23, 19, 12), QRect(411, 37, 29, 20));
  EXPECT_EQ(DialogUnits({6, 13}).toPixels(0, 129, 299, 37), QRect(0, 210, 449, 60));
  writeFileBytes(file("readme.txt"), "Morvane ver. 2.01 - notes\r\n");
  writeFileBytes(file("reflist.txt"), "/home/user/models/house-reference.dxf\r\n");
  writeFileBytes(file("tergetlist.txt"), "/home/user/models/house-target.dxf\r\n");
  open();
  EXPECT_TRUE(dialog->windowTitle() == "Morvane ver. 2.01" && !dialog->windowIcon().isNull());
  DialogUnits units = dialogUnitsOf(dialog->font());
  EXPECT_EQ(dialog->size(), QSize(units.toPixelsX(299), units.toPixelsY(166)));
  for (const ControlTemplate& entry : kDialogControls) {
    QWidget* widget = dialog->findChild<QWidget*>(QString::number(entry.id));
    if (entry.id == kStaticId || !widget) continue;
    QRect place = units.toPixels(entry.x, entry.y, entry.width, entry.height);
    auto* button = qobject_cast<QPushButton*>(widget);
    EXPECT_TRUE(widget == dialog->control(entry.id) && widget->pos() == place.topLeft() &&
                widget->width() == place.width() &&
                widget->isVisibleTo(dialog.get()) != entry.hidden &&
                (button ? button->text() : entry.text) == entry.text)
        << entry.id;
  }
  EXPECT_EQ(dialog->control(kRotationGroupId)->property("title"), "Rotation");
  EXPECT_TRUE(qobject_cast<QPushButton*>(dialog->control(kSaveTargetButtonId))->isDefault());
  QStringList labels;
  for (QLabel* label : dialog->findChildren<QLabel*>())
    labels << label->text();
  labels.removeAll("");
  EXPECT_EQ(labels, QStringList({"Reference dxf file it was exported by Kelvoran",
                                 "Terget dxf file it was exported by Metasequoia"}));
  QList<int> chain;  // the controls Tab visits, from the reference path box on
  box(kReferenceBoxId)->setFocus();
  for (int i = 0; i < 8; ++i, QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab))
    chain << dialog->focusWidget()->property("controlId").toInt();
  EXPECT_EQ(chain,
            QList<int>({kReferenceBoxId, kBrowseReferenceId, kTargetBoxId, kBrowseTargetId,
                        kSaveTargetButtonId, kExitButtonId, kProgressListId, kReferenceBoxId}));
  QImage shot = dialog->grab().toImage();
  EXPECT_EQ(shot.size(), dialog->size() * shot.devicePixelRatio());
  EXPECT_GT(shot.convertToFormat(QImage::Format_Indexed8).colorCount(), 2);  // drawn
  ASSERT_TRUE(QDir().mkpath(MORVANE_TEST_ARTIFACTS));
  EXPECT_TRUE(shot.save(QStringLiteral(MORVANE_TEST_ARTIFACTS "/morvane-dialog.png")));
}

// ">>" asks the chooser, starting from the box's recent list or the home folder; a chosen file
// becomes the box's text, a cancel changes nothing. "Save Terget.." and Enter in a path box
// start the run with the boxes' paths, trimmed and of any length; only then do non-empty ones
// go to the top of the recent lists, which Escape, the close box and "exit" all write.
TEST_F(Dialog, BrowseButtonsAndTypedPathsFeedTheRunAndEveryCloseWritesTheLists) {
  writeFileBytes(file("reflist.txt"), "/data/models/ref.dxf\r\n/old/one.dxf\r\n");
  open();
  answers = {"/picked/a.dxf"};
  click(kBrowseReferenceId), click(kBrowseTargetId);
  EXPECT_EQ(started, QStringList({"0/data/models|ref.dxf", "1" + QDir::homePath() + '|'}));
  EXPECT_EQ(box(kReferenceBoxId)->currentText() + box(kTargetBoxId)->currentText(),
            "/picked/a.dxf");
  EXPECT_EQ(box(kReferenceBoxId)->count(), 2);
  const QString longTarget = QString(300, 't') + ".dxf";
  type(kTargetBoxId, longTarget);
  click(kSaveTargetButtonId);
  type(kReferenceBoxId, "/models/ref.dxf   ");
  type(kTargetBoxId, "  ");
  QTest::keyClick(box(kTargetBoxId)->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(calls, QStringList({"/picked/a.dxf|" + longTarget, "/models/ref.dxf|"}));
  EXPECT_EQ(box(kReferenceBoxId)->currentText(), "/models/ref.dxf   ");  // a failed run: as typed
  EXPECT_TRUE(dialog->isVisible());
  const std::function<void()> ways[] = {
      [&] { QTest::keyClick(box(kReferenceBoxId)->lineEdit(), Qt::Key_Escape); },
      [&] { dialog->close(); }, [&] { click(kExitButtonId); }};
  for (const auto& close : ways) {
    close();
    EXPECT_TRUE(!dialog->isVisible() && dialog->result() == QDialog::Rejected && !referenceList);
    EXPECT_EQ(readFileBytes(file("reflist.txt")) + readFileBytes(file("tergetlist.txt")),
              "/models/ref.dxf\r\n/picked/a.dxf\r\n/data/models/ref.dxf\r\n/old/one.dxf\r\n" +
                  longTarget.toStdString() + "\r\n");
    open();
    std::remove(file("reflist.txt").c_str()), std::remove(file("tergetlist.txt").c_str());
  }
}

// A whole run from typed paths: the save chooser starts at the target, and the file written has
// the target's faces under the reference's layers; a cancelled save writes nothing, a failed
// one says so in the progress list.
TEST_F(Dialog, WholeRunWritesTheTargetUnderTheReferencesLayers) {
  const DxfFace wall = {"WALL", {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}}};
  const DxfFace floor = {"FLOOR", {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}}};
  writeFileBytes(file("ref.dxf"), dxfText({wall, floor}));
  writeFileBytes(file("tgt.dxf"),
                 dxfText({{"0", floor.corners}, {"0", wall.corners}}, {"by a test"}));
  const QString out = QString::fromStdString(file("out.dxf"));
  for (const QString& answer : {out, QString(), out + "/no/out.dxf"}) {
    std::remove(file("out.dxf").c_str());
    started.clear(), answers = {answer};
    open(runMatching, saveTargetDxf);
    type(kReferenceBoxId, QString::fromStdString(file("ref.dxf")));
    type(kTargetBoxId, QString::fromStdString(file("tgt.dxf")));
    click(kSaveTargetButtonId);
    QStringList lines = {"Start...", "1 Parts / 2 Faces / 6 Points", "Done."};
    EXPECT_EQ(progress(),
              answer.endsWith("/no/out.dxf") ? lines << "Write Error : Terget DXF" : lines);
    EXPECT_EQ(started, QStringList("2" + QString::fromStdString(folder.path) + "|tgt.dxf"));
    EXPECT_EQ(box(kTargetBoxId)->itemText(0).toStdString(), file("tgt.dxf"));  // on top
    std::string written = readFileBytes(file("out.dxf"));
    EXPECT_EQ(written.rfind("0\r\nSECTION\r\n2\r\nENTITIES\r\n999\r\nby a test\r\n0\r\n", 0) == 0,
              answer == out);
    EXPECT_EQ(dxfLayers(written), answer == out ? std::vector<std::string>({"FLOOR", "WALL"})
                                                : std::vector<std::string>());
    click(kExitButtonId);
  }
}

// The run goes on its own thread: lines appear while it runs (a new run empties the list), the
// controls are disabled and neither a second run nor closing is possible until it ends.
TEST_F(Dialog, RunKeepsTheWindowAliveAndRefusesASecondRun) {
  std::atomic<bool> release{false};
  std::atomic<int> runs{0};
  open([&](DialogPort* port, const char*, const char*) {
    addProgressLine(port, nullptr), addProgressLine(port, "Start..."), ++runs;
    while (!release)
      QThread::msleep(2);
    for (int i = 0; i < 300; ++i)
      addProgressLine(port, "line %d", i);
    return 0;
  });
  dialog->findChild<QListWidget*>()->addItem("old line");
  QTimer watcher;  // checks made from inside the dialog's wait, once the run has started
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    if (runs == 0 || release) return;
    EXPECT_TRUE(QTest::qWaitFor([&] { return progress() == QStringList{"Start..."}; }, 5000));
    for (int id : {kReferenceBoxId, kBrowseReferenceId, kTargetBoxId, kBrowseTargetId,
                   kSaveTargetButtonId, kExitButtonId})
      EXPECT_FALSE(dialog->control(id)->isEnabled()) << id;
    dialog->onSaveTarget();
    QTest::keyClick(dialog.get(), Qt::Key_Return), QTest::keyClick(dialog.get(), Qt::Key_Escape);
    dialog->close();
    EXPECT_TRUE(dialog->isVisible() && dialog->isRunning());
    release = true;
  });
  watcher.start(5);
  click(kSaveTargetButtonId);
  EXPECT_TRUE(release && runs == 1 && !dialog->isRunning());
  EXPECT_TRUE(dialog->control(kSaveTargetButtonId)->isEnabled());
  EXPECT_EQ(progress().size(), 301);
  EXPECT_EQ(progress().last(), "line 299");
}

// The notes show on the first start only (the defaults then written hide them), from the notes
// path when one is set; the switch word shows the rotation box, whose choice is written back.
TEST_F(Dialog, SettingsDecideTheNotesAndTheRotationBox) {
  writeFileBytes(file("readme.txt"), "first note\r\n\r\nsecond note\r\n");
  open();
  EXPECT_EQ(progress(), QStringList({"first note", "second note"}));
  EXPECT_TRUE(!box(kRotationBoxId)->isVisible() && box(kRotationBoxId)->currentIndex() == -1);
  textureRotation = 3;
  click(kSaveTargetButtonId);  // the hidden box leaves the rotation alone
  EXPECT_EQ(textureRotation, 3);
  click(kExitButtonId);
  std::string settings = readFileBytes(file("param.txt"));
  EXPECT_EQ(settings.substr(0, 3), "1 ;");
  open();
  EXPECT_EQ(progress(), QStringList());
  click(kExitButtonId);
  writeFileBytes(file("param.txt"),
                 settings.replace(0, 1, "3").replace(settings.find("0 ;2;"), 1, "1"));
  open();
  EXPECT_TRUE(box(kRotationBoxId)->isVisible() && dialog->control(kRotationGroupId)->isVisible());
  EXPECT_EQ(box(kRotationBoxId)->count() * 10 + box(kRotationBoxId)->currentIndex(), 41);
  box(kRotationBoxId)->setCurrentIndex(2);
  click(kSaveTargetButtonId);
  EXPECT_EQ(textureRotation, 2);
  click(kExitButtonId);
  EXPECT_EQ(readFileBytes(file("param.txt")), settings.replace(settings.find("1 ;2;"), 1, "2"));
  std::remove(file("param.txt").c_str());  // an installed program's first start
  ScratchFolder installed;
  writeFileBytes(installed.file("readme.txt"), "installed note\r\n");
  ASSERT_EQ(setNotesPath(installed.file("readme.txt").c_str()), 1);
  open();
  EXPECT_EQ(progress(), QStringList({"installed note"}));
}

// A chooser starts in the folder of the first recent file with its name filled in (the root
// keeps its '/'), or in the home folder when there is none. The Qt file dialog shows it: the
// open chooser takes existing files only, the save chooser asks before overwriting and adds
// ".dxf" to a name typed without it.
TEST(FileChooser, StartsFromTheRecentListOrHomeAndGivesTheChosenPath) {
  // clang-format off
  const std::tuple<ChooserKind, std::vector<std::string>, QString> cases[] = {
      {ChooserKind::openReference, {"/out/tgt.dxf", "/a.dxf"}, "/out|tgt.dxf"},
      {ChooserKind::openReference, {"/model.dxf"}, "/|model.dxf"}, {ChooserKind::openTarget, {"m.dxf"}, "|m.dxf"},
      {ChooserKind::openTarget, {}, "/home/a|"}, {ChooserKind::saveTarget, {"/data/sub/"}, "/data/sub|"},
      {ChooserKind::saveTarget, {""}, "/home/a|"}};
  // clang-format on
  const QString titles[] = {"Load Reference DXF-file", "Load Terget DXF-file",
                            "Save Terget DXF-file"};
  for (const auto& [kind, recent, start] : cases) {
    ChooserRequest request = chooserRequest(kind, testLines(recent).get(), "/home/a");
    EXPECT_EQ(request.startFolder + '|' + request.startName, start);
    EXPECT_TRUE(request.kind == kind && request.title == titles[int(kind)] &&
                request.save == (kind == ChooserKind::saveTarget) &&
                request.defaultSuffix == "dxf" &&
                request.nameFilters == QStringList({"DXF files(*.dxf)", "All files (*.*)"}));
  }
  EXPECT_EQ(chooserRequest(ChooserKind::openTarget, nullptr, "/h").startFolder, "/h");
  ScratchFolder folder;
  writeFileBytes(folder.file("ref.dxf"), "0\r\nEOF\r\n");
  for (auto [kind, typed, chosen] : {std::tuple{ChooserKind::openReference, "", "ref.dxf"},
                                     std::tuple{ChooserKind::saveTarget, "result", "result.dxf"}}) {
    ChooserRequest request =
        chooserRequest(kind, testLines({folder.file("ref.dxf").c_str()}).get(), "/");
    Person<QFileDialog> person([&](QFileDialog* dialog) {
      EXPECT_TRUE(dialog->windowTitle() == request.title &&
                  dialog->selectedNameFilter() == "DXF files(*.dxf)");
      EXPECT_EQ(dialog->acceptMode(),
                request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
      EXPECT_EQ(dialog->fileMode(),
                request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
      EXPECT_EQ(dialog->testOption(QFileDialog::DontConfirmOverwrite), !request.save);
      EXPECT_EQ(dialog->directory().absolutePath().toStdString(), folder.path);
      auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
      EXPECT_EQ(name->text(), "ref.dxf");
      if (*typed) QApplication::setActiveWindow(dialog), name->setFocus(), name->selectAll();
      QTest::keyClicks(name, typed);  // typed as a person would, which drops the selected file
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
  const std::tuple<bool, QStringList, const char*, QString> cases[] = {
      {true, {beside}, "/p/bin", ""},
      {false, {shared}, "/cfg", shared},
      {false, {beside, usr}, "/cfg", beside},
      {true, {shared, usr}, "/p/bin", shared},
      {false, {usr}, "/cfg", usr},
      {false, {}, "/cfg", ""}};
  for (const auto& [writable, present, dataFolder, notes] : cases) {
    static QStringList exists;
    exists = present;
    FileLocations locations =
        chooseFileLocations("/p/bin", writable, "/cfg", {beside, shared, usr},
                            [](const QString& path) { return exists.contains(path); });
    EXPECT_TRUE(locations.dataFolder == dataFolder && locations.notesPath == notes)
        << present.join(' ').toStdString();
  }
  EXPECT_EQ(notesCandidatesFor("/opt/m/bin").mid(0, 2),
            QStringList({"/opt/m/bin/readme.txt", "/opt/m/share/morvane/readme.txt"}));
}

// The report is a modal box titled "Morvane Error" with the critical icon, from the dialog's
// thread and from a run's thread alike, and the message also lands in "perr.txt".
TEST(ErrorBox, ShowsTheReportModallyFromAnyThread) {
  ScratchFolder folder;
  setProgramDirectoryTo(folder.path.c_str()), setErrorPresenter(showErrorBox);
  for (const char* name : {"gcalloc", "gcrealloc"}) {
    QString shown;
    Person<QMessageBox> person([&](QMessageBox* box) {
      EXPECT_TRUE(box->windowTitle() == "Morvane Error" && box->icon() == QMessageBox::Critical);
      shown = box->text(), box->accept();
    });
    std::atomic<bool> done{false};
    std::thread worker([&] {  // reports from here, or only ends
      if (name[2] == 'r') reportError("%s", name);
      done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
    worker.join();
    if (name[2] != 'r') reportError("%s", name);
    EXPECT_TRUE(shown == name && person.answered) << name;
    EXPECT_EQ(readFileBytes(folder.file("perr.txt")), std::string(name) + "\r\n");
  }
  setErrorPresenter(nullptr), setProgramDirectory();
}
