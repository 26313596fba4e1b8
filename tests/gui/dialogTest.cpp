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
#include "app/dialog/previewPane.h"
#include "app/errorReport.h"
#include "app/notesPath.h"
#include "app/picture/previewPicture.h"
#include "app/programPath.h"
#include "match/matchingRun.h"
#include "output/keptResult.h"
#include "support/testSupport.h"
#include "textfiles/settings.h"

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
  void TearDown() override { dialog ? dialog->reject() : void(), releaseRunData(); }

  // Shows a dialog whose run, unless given, records its paths and fails.
  void open(MainDialog::RunFunction run = nullptr, MainDialog::SaveFunction save = nullptr) {
    auto record = [this](DialogPort*, const char* reference, const char* target) {
      return calls << QString(reference) + '|' + target, 0;
    };
    dialog = std::make_unique<MainDialog>(*this, run ? run : record, save);
    dialog->show(), QApplication::setActiveWindow(dialog.get());
    EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
  }
  QComboBox* box(int id) const { return qobject_cast<QComboBox*>(dialog->control(id)); }
  QString progress() const {
    QStringList lines;
    for (auto* list = dialog->findChild<QListWidget*>(); lines.size() < list->count();)
      lines << list->item(lines.size())->text();
    return lines.join('|');
  }
  void type(int id, const QString& text) {  // replaces what the box held
    box(id)->setFocus(), box(id)->lineEdit()->selectAll();
    QTest::keyClick(box(id)->lineEdit(), Qt::Key_Delete),
        QTest::keyClicks(box(id)->lineEdit(), text);
  }
  void click(int id) { QTest::mouseClick(dialog->control(id), Qt::LeftButton); }
  std::string file(const char* name) const { return folder.file(name); }

  ScratchFolder folder;
  QStringList answers, started, calls;
  std::unique_ptr<MainDialog> dialog;
};

}  // namespace

// Dialog units round half away from zero; every control of the template sits at its place with
// its text; the screenshot (shown in the README) is kept as a test artifact.
TEST_F(Dialog, ControlsFollowTheTemplateAndTheScreenshotIsSaved) {
  EXPECT_EQ(DialogUnits({6, 13}).toPixels(274, 23, 19, 12), QRect(411, 37, 29, 20));
  open();
  DialogUnits units = dialogUnitsOf(dialog->font());
  EXPECT_TRUE(dialog->windowTitle() == "Morvane ver. 2.01" &&
              dialog->size() == QSize(units.toPixelsX(299 + kPreviewPaneWidth),
                                      units.toPixelsY(166 + kDialogGrowth)));
  QStringList labels = {""};  // the separator has no text
  for (QLabel* label : dialog->findChildren<QLabel*>())
    labels << label->text();
  for (const ControlTemplate& entry : kDialogControls) {
    QWidget* widget = dialog->control(entry.id);
    QRect place = units.toPixels(entry.x, entry.y, entry.width, entry.height);
    auto* button = qobject_cast<QPushButton*>(widget);
    EXPECT_TRUE(widget ? widget->pos() == place.topLeft() && widget->width() == place.width() &&
                             widget->isVisibleTo(dialog.get()) != entry.hidden &&
                             (!button || button->text() == entry.text)
                       : labels.contains(entry.text))
        << entry.id << entry.text;
  }
  EXPECT_TRUE(qobject_cast<QPushButton*>(dialog->control(kSaveTargetButtonId))->isDefault());
  QImage shot = dialog->grab().toImage();
  EXPECT_TRUE(QDir().mkpath(MORVANE_TEST_ARTIFACTS) &&
              shot.save(QStringLiteral(MORVANE_TEST_ARTIFACTS "/morvane-dialog.png")));
}

// ">>" asks the chooser, starting from the box's recent list, else (the target's) from the
// reference's folder, else the home folder; a chosen file
// becomes the box's text, a cancel changes nothing. "Save Terget.." and Enter in a path box
// start the run with the boxes' paths, trimmed and of any length; only then do non-empty ones
// go to the top of the recent lists, which Escape, the close box and "exit" all write.
TEST_F(Dialog, BrowseButtonsAndTypedPathsFeedTheRunAndEveryCloseWritesTheLists) {
  writeFileBytes(file("reflist.txt"), "/data/models/ref.dxf\r\n/old/one.dxf\r\n");
  open();
  const QString picked = QString::fromStdString(file("a.dxf"));
  answers = {picked};
  click(kBrowseReferenceId), click(kBrowseTargetId), type(kReferenceBoxId, "/none/a.dxf");
  click(kBrowseTargetId), type(kReferenceBoxId, picked);
  EXPECT_EQ(started.join('*'), "0/data/models|ref.dxf*1" + QString::fromStdString(folder.path) +
                                   "|*1" + QDir::homePath() + '|');
  const QString longTarget = QString(300, 't') + ".dxf";
  type(kTargetBoxId, longTarget);
  click(kSaveTargetButtonId);
  type(kReferenceBoxId, "/models/ref.dxf   "), type(kTargetBoxId, "  ");
  QTest::keyClick(box(kTargetBoxId)->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(calls, QStringList({picked + '|' + longTarget, "/models/ref.dxf|"}));
  EXPECT_EQ(box(kReferenceBoxId)->currentText(), "/models/ref.dxf   ");  // a failed run: as typed
  for (int way = 0; way < 3; ++way) {  // Escape, the close box, "exit"
    if (way == 0) QTest::keyClick(box(kReferenceBoxId)->lineEdit(), Qt::Key_Escape);
    if (way == 1) dialog->close();
    if (way == 2) click(kExitButtonId);
    EXPECT_TRUE(!dialog->isVisible() && dialog->result() == QDialog::Rejected && !referenceList);
    EXPECT_EQ(readFileBytes(file("reflist.txt")) + readFileBytes(file("tergetlist.txt")),
              "/models/ref.dxf\r\n" + picked.toStdString() +
                  "\r\n/data/models/ref.dxf\r\n/old/one.dxf\r\n" + longTarget.toStdString() +
                  "\r\n");
    open();
    std::remove(file("reflist.txt").c_str()), std::remove(file("tergetlist.txt").c_str());
  }
}

// A whole run from typed paths: the tally follows the run's lines, the save chooser starts at
// the target, the file written has the target's faces under the reference's layers and is
// named; a failed save gives the reason. After a cancelled save chooser, "Save Terget.." with
// the same inputs asks for the path at once; a changed file runs again.
TEST_F(Dialog, WholeRunWritesTheTargetUnderTheReferencesLayers) {
  const DxfFace wall = {"WALL", {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}}};
  const DxfFace floor = {"FLOOR", {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}}};
  writeFileBytes(file("ref.dxf"), dxfText({wall, floor}));
  writeFileBytes(file("tgt.dxf"), dxfText({{"0", floor.corners}, {"0", wall.corners}}));
  const QString out = QString::fromStdString(file("out.dxf")), bad = out + "/no/out.dxf";
  const QString run = "Start...|1 Parts / 2 Faces / 6 Points|Done.|Faces: 2 coincident / ";
  // The save chooser's answers, one per press of "Save Terget.." (the reference changes before a
  // third), and how the progress list ends.
  const std::pair<QStringList, QString> cases[] = {
      {{out}, "|Written: " + out},
      {{"", out}, "|Same files and settings as the last run: its result is saved|Written: " + out},
      {{bad}, "|Write Error : Terget DXF|cannot write " + bad + ": its folder does not exist"},
      {{"", "", ""}, " unmatched"},
  };
  for (const auto& [chooserAnswers, tail] : cases) {
    started.clear(), answers = chooserAnswers, std::remove(file("out.dxf").c_str());
    open(runMatching, saveKeptResultDxf);
    type(kReferenceBoxId, QString::fromStdString(file("ref.dxf")));
    type(kTargetBoxId, QString::fromStdString(file("tgt.dxf")));
    for (int press = 0; press < chooserAnswers.size(); ++press) {
      if (press == 2) writeFileBytes(file("ref.dxf"), dxfText({floor, wall}));
      click(kSaveTargetButtonId);
    }
    EXPECT_TRUE(progress().startsWith(run) && progress().section(" (", 0, 0).endsWith(tail))
        << progress().toStdString();
    EXPECT_TRUE(started.startsWith("2" + QString::fromStdString(folder.path) + "|tgt.dxf"));
    EXPECT_EQ(dxfLayers(readFileBytes(file("out.dxf"))),
              (tail.contains("Written") ? Lines{"FLOOR", "WALL"} : Lines{}));
    click(kExitButtonId);
  }
}

// After a run the pane shows the output by layer or by how matched; a drag turns it, the wheel
// zooms, "Save picture.." writes the batch tool's picture of the pane's view, and the next run
// clears it. The pane's picture is kept as a test artifact (docs/preview.png in the README).
TEST_F(Dialog, PreviewPaneShowsTheResultTurnsZoomsAndSavesThePicture) {
  const QString examples = QString::fromStdString(testDataPath("../../examples/"));
  open([](DialogPort* port, const char* reference, const char* target) {
    RunOptions options{};
    options.alignParts = 1;
    return runMatchingWith(port, reference, target, &options);
  });
  auto* pane = dialog->findChild<PreviewPane*>();
  type(kReferenceBoxId, examples + "reference.dxf"), type(kTargetBoxId, examples + "target.dxf");
  click(kSaveTargetButtonId);  // the output chooser is cancelled; the run state stays
  ASSERT_TRUE(pane->hasModel());
  const RenderView iso = pane->view();
  QImage byLayer = pane->grab().toImage();
  EXPECT_TRUE(QDir().mkpath(MORVANE_TEST_ARTIFACTS) &&
              byLayer.save(QStringLiteral(MORVANE_TEST_ARTIFACTS "/preview-pane.png")));
  QRadioButton* byHow = pane->findChildren<QRadioButton*>().last();
  QTest::mouseClick(byHow, Qt::LeftButton);
  EXPECT_TRUE(byHow->text() == "By how matched" && pane->grab().toImage() != byLayer);
  QTest::mousePress(pane, Qt::LeftButton, {}, QPoint(60, 60));
  QTest::mouseMove(pane, QPoint(100, 40));
  QTest::mouseRelease(pane, Qt::LeftButton, {}, QPoint(100, 40));
  QWheelEvent wheel(QPointF(60, 60), pane->mapToGlobal(QPointF(60, 60)), {}, {0, 240}, Qt::NoButton,
                    {}, Qt::NoScrollPhase, false);
  QApplication::sendEvent(pane, &wheel);
  EXPECT_TRUE(pane->view().turn < iso.turn && pane->view().tilt < iso.tilt &&
              pane->view().zoom > 1 && pane->lastStep() == 1);
  for (const QString& answer : {QString::fromStdString(file("pic.png")), examples + "no/p.png"}) {
    answers = {answer};
    QTest::mouseClick(pane->findChild<QPushButton*>(), Qt::LeftButton);
  }
  EXPECT_EQ(
      QImage(QString::fromStdString(file("pic.png"))).convertToFormat(QImage::Format_RGB32),
      composePreview(dialog->keptResult(), pane->view()).convertToFormat(QImage::Format_RGB32));
  EXPECT_TRUE(progress().contains("Write Error : " + examples + "no/p.png"))
      << progress().toStdString();
  type(kTargetBoxId, examples + "missing.dxf");
  click(kSaveTargetButtonId);
  EXPECT_FALSE(pane->hasModel());
}

// The run goes on its own thread: lines appear while it runs, the row under the pane shows its
// stage, part and share, the controls are disabled and no second run can start. "Cancel",
// Escape and the close box each ask it to stop; the dialog stays, ready for the next run.
TEST_F(Dialog, RunKeepsTheWindowAliveRefusesASecondRunAndStopsWhenAsked) {
  std::atomic<int> runs{0}, seen{0};
  open([&](DialogPort* port, const char*, const char*) {
    addProgressLine(port, nullptr), addProgressLine(port, "Start..."), ++runs;
    for (RunProgress* sink = port->runProgress; !sink->cancelRequested(sink);)
      sink->report(sink, "profiles", 3, 40, 0.5), QThread::msleep(2);
    for (int i = 0; i < 300; ++i)
      addProgressLine(port, "line %d", i);
    return 0;
  });
  auto* stage = dialog->findChild<QLabel*>("runStage");
  for (int way = 0; way < 3; ++way) {
    QTimer watcher;  // checks made from inside the dialog's wait, once the row shows the run
    QObject::connect(&watcher, &QTimer::timeout, [&] {
      if (seen > way || !stage->text().startsWith("profiles, part 3 of 40 ")) return;
      seen += progress() == "Start..." && dialog->findChild<QProgressBar*>()->value() == 500;
      for (int id : {kReferenceBoxId, kBrowseReferenceId, kTargetBoxId, kBrowseTargetId,
                     kSaveTargetButtonId, kExitButtonId})
        EXPECT_FALSE(dialog->control(id)->isEnabled()) << id;
      dialog->onSaveTarget(), QTest::keyClick(dialog.get(), Qt::Key_Return);
      for (QPushButton* button : dialog->findChildren<QPushButton*>())
        if (way == 0 && button->text() == "Cancel") QTest::mouseClick(button, Qt::LeftButton);
      way == 1 ? QTest::keyClick(dialog.get(), Qt::Key_Escape) : void(way == 2 && dialog->close());
    });
    watcher.start(5);
    click(kSaveTargetButtonId);
    EXPECT_TRUE(seen == way + 1 && runs == way + 1 && dialog->isVisible() && !dialog->isRunning() &&
                dialog->control(kSaveTargetButtonId)->isEnabled() &&
                stage->text().startsWith("cancelled"))
        << way;
    EXPECT_TRUE(progress().count('|') == 300 && progress().startsWith("Start...|line 0|"));
  }
}

// Out of memory in a run: its box shows once the run has ended, the stage's detail under the
// allocator entry's name.
TEST_F(Dialog, OutOfMemoryBoxFollowsTheRunWithWhatRanOut) {
  setErrorPresenter(showErrorBox), open([](DialogPort* port, const char*, const char*) {
    reportError("%s", "gmalloc"), addDetailLine(port, "out of memory while profiles (...)");
    return addProgressLine(port, "Error Quit"), 0;
  });
  QString shown;
  QTimer person;  // answers the box once it shows
  QObject::connect(&person, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
      shown = progress() + '|' + box->text(), box->accept();
  });
  person.start(10), click(kSaveTargetButtonId), setErrorPresenter(nullptr);
  EXPECT_EQ(shown,
            "out of memory while profiles (...)|Error Quit|gmalloc\nout of memory while "
            "profiles (...)");
}

// The notes (from the notes path when one is set) show on the first start only; the switch word
// shows the rotation box with the rotation in force, a choice there is written back, while a
// hidden box leaves the rotation alone. "Align turned parts" and "Keep the rest of the target
// file" show bits 4 and 8 of the switch word and write them back when they changed.
TEST_F(Dialog, SettingsDecideTheNotesTheRotationBoxAndTheAlignBox) {
  auto align = [this] { return qobject_cast<QCheckBox*>(dialog->control(kAlignBoxId)); };
  auto keep = [this] { return qobject_cast<QCheckBox*>(dialog->control(kKeepTargetBoxId)); };
  writeFileBytes(file("notes"), "first note\r\n\r\nsecond note\r\n");
  ASSERT_EQ(setNotesPath(file("notes").c_str()), 1);
  open();
  EXPECT_TRUE(progress() == "first note|second note" && !box(kRotationBoxId)->isVisible());
  textureRotation = 3;
  click(kSaveTargetButtonId), click(kExitButtonId);
  std::string settings = readFileBytes(file("param.txt"));
  EXPECT_EQ(textureRotation, 3);
  writeFileBytes(file("param.txt"),
                 settings.replace(0, 1, "3").replace(settings.find("0 ;2;"), 1, "1"));
  open();
  EXPECT_TRUE(progress() == "" && textureRotation == 1 && box(kRotationBoxId)->count() == 4 &&
              box(kRotationBoxId)->currentText() == "1" &&
              dialog->control(kRotationGroupId)->isVisible() && align()->isVisible() &&
              !align()->isChecked() && !keep()->isChecked());
  box(kRotationBoxId)->setCurrentIndex(2), align()->setChecked(true), keep()->setChecked(true);
  click(kSaveTargetButtonId), click(kExitButtonId);
  EXPECT_EQ(readFileBytes(file("param.txt")),
            settings.replace(settings.find("1 ;2;"), 1, "2").replace(0, 1, "15"));
  open();
  EXPECT_TRUE(align()->isChecked() && keep()->isChecked());
}

// A chooser starts in the folder of the first recent file with its name filled in (the root
// keeps its '/'), or in the home folder when there is none.
TEST(FileChooser, StartsFromTheRecentListOrHome) {
  const std::pair<Lines, QString> cases[] = {{{"/out/tgt.dxf", "/a"}, "/out|tgt.dxf"},
                                             {{"/model.dxf"}, "/|model.dxf"},
                                             {{"m.dxf"}, "|m.dxf"},
                                             {{""}, "/h|"}};
  for (const auto& [recent, start] : cases) {
    ChooserRequest request = chooserRequest(ChooserKind::openTarget, testLines(recent).get(), "/h");
    EXPECT_EQ(request.startFolder + '|' + request.startName, start);
  }
}

// The files stay beside a program whose folder can be written, else in the configuration
// folder; the notes are the first candidate present, unless that is beside the data files.
TEST(FileLocations, WritableProgramFolderKeepsTheFilesElseTheConfigFolder) {
  const QString beside = "/p/bin/readme.txt", shared = "/p/share/readme.txt", usr = "/u/readme.txt";
  // clang-format off
  const std::tuple<bool, QStringList, const char*, QString> cases[] = {{true, {beside}, "/p/bin", ""},
      {false, {shared}, "/cfg", shared}, {false, {beside, usr}, "/cfg", beside},
      {true, {shared, usr}, "/p/bin", shared}, {false, {usr}, "/cfg", usr}, {false, {}, "/cfg", ""}};
  // clang-format on
  for (const auto& [writable, present, dataFolder, notes] : cases) {
    static QStringList exists;
    exists = present;
    FileLocations found =
        chooseFileLocations("/p/bin", writable, "/cfg", {beside, shared, usr},
                            [](const QString& path) { return exists.contains(path); });
    EXPECT_TRUE(found.dataFolder == dataFolder && found.notesPath == notes) << notes.toStdString();
  }
  EXPECT_EQ(notesCandidatesFor("/opt/m/bin").mid(0, 2).join('|'),
            "/opt/m/bin/readme.txt|/opt/m/share/morvane/readme.txt");
}

// A run's thread reports in a modal box titled "Morvane Error" with the critical icon.
TEST(ErrorBox, ShowsTheReportModallyFromARunsThread) {
  ScratchFolder folder;  // for perr.txt
  setProgramDirectoryTo(folder.path.c_str()), setErrorPresenter(showErrorBox);
  QString shown;
  QTimer person;  // answers the box once it shows
  QObject::connect(&person, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box && box->icon() == QMessageBox::Critical)
      shown = box->windowTitle() + ": " + box->text(), box->accept();
  });
  person.start(10);
  std::atomic<bool> done{false};
  std::thread worker([&] { reportError("%s", "gcrealloc"), done = true; });
  EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
  worker.join(), setErrorPresenter(nullptr), setProgramDirectory();
  EXPECT_EQ(shown, "Morvane Error: gcrealloc");
}

// The dialog's tests need the application object before any widget exists; they keep
// QStandardPaths away from the user's own folders.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QStandardPaths::setTestModeEnabled(true);
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("morvane"));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
