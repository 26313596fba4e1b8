#include <QCloseEvent>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>

#include "app/controlIds.h"
#include "app/dialog/dialogTemplate.h"
#include "guiTestSupport.h"
#include "textfiles/lineList.h"
#include "textfiles/notesPath.h"
#include "textfiles/settings.h"

namespace {

// A run that only records its paths and fails, as a run of missing files would.
struct RecordedRun {
  std::vector<std::pair<std::string, std::string>> calls;
  MainDialog::RunFunction function() {
    return [this](DialogPort*, const char* reference, const char* target) {
      calls.emplace_back(reference, target);
      return 0;
    };
  }
};

int neverSave(const char*) {
  ADD_FAILURE() << "nothing may be written";
  return 0;
}

// Two quads sharing an edge: a wall and a floor.
const TestFace kWall = {"WALL", {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}}};
const TestFace kFloor = {"FLOOR", {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}}};

}  // namespace

// ---- the template ----

TEST(DialogUnits, ConvertWithTheFontsAverageWidthAndHeight) {
  // MS Sans Serif 8 on the original platform: base units 6 x 13.
  DialogUnits units{6, 13};
  EXPECT_EQ(units.toPixels(0, 0, 299, 166), QRect(0, 0, 449, 270));
  EXPECT_EQ(units.toPixels(274, 23, 19, 12), QRect(411, 37, 29, 20));
  EXPECT_EQ(units.toPixels(0, 129, 299, 37), QRect(0, 210, 449, 60));
}

TEST_F(DialogTest, ControlsKeepTheTemplatesIdsTextsPlacesAndTabOrder) {
  openDialog(RecordedRun().function(), neverSave);
  EXPECT_EQ(dialog->windowTitle(), "Morvane ver. 2.01");
  EXPECT_FALSE(dialog->windowIcon().isNull());
  DialogUnits units = dialogUnitsOf(dialog->font());
  EXPECT_EQ(dialog->size(), QSize(units.toPixelsX(299), units.toPixelsY(166)));
  for (const ControlTemplate& entry : kDialogControls) {
    if (entry.id == kStaticId) continue;
    SCOPED_TRACE(entry.id);
    QWidget* widget = dialog->findChild<QWidget*>(QString::number(entry.id));
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget, dialog->control(entry.id));
    QRect place = units.toPixels(entry.x, entry.y, entry.width, entry.height);
    EXPECT_EQ(widget->pos(), place.topLeft());
    EXPECT_EQ(widget->width(), place.width());
    EXPECT_EQ(widget->isVisibleTo(dialog.get()), !entry.hidden);
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
      EXPECT_EQ(button->text(), entry.text);
    }
  }
  QStringList labels;
  for (QLabel* label : dialog->findChildren<QLabel*>())
    if (!label->text().isEmpty()) labels << label->text();
  EXPECT_EQ(labels, QStringList({"Reference dxf file it was exported by Kelvoran",
                                 "Terget dxf file it was exported by Metasequoia"}));
  EXPECT_EQ(qobject_cast<QGroupBox*>(dialog->control(kRotationGroupId))->title(), "Rotation");
  EXPECT_TRUE(qobject_cast<QPushButton*>(dialog->control(kSaveTargetButtonId))->isDefault());

  // The focus chain over the visible controls, from the reference path box round to itself.
  QList<int> chain;
  QWidget* start = dialog->control(kReferenceBoxId);
  QWidget* widget = start;
  do {
    if (widget->isVisible() && widget->property("controlId").toInt() > 0)
      chain << widget->property("controlId").toInt();
    widget = widget->nextInFocusChain();
  } while (widget != start && chain.size() < 40);
  QList<int> focusable;
  for (int id : chain)
    if (dialog->control(id)->focusPolicy() & Qt::TabFocus) focusable << id;
  EXPECT_EQ(focusable,
            QList<int>({kReferenceBoxId, kBrowseReferenceId, kTargetBoxId, kBrowseTargetId,
                        kSaveTargetButtonId, kExitButtonId, kProgressListId}));
}

// ---- "Save Terget.." ----

TEST_F(DialogTest, SaveTargetTakesTypedPathsTrimmedAndWholeIntoTheRecentLists) {
  RecordedRun run;
  openDialog(run.function(), neverSave);
  std::string longTarget = folder.path + "/" + std::string(300, 't') + ".dxf";
  typePath(kReferenceBoxId, "/models/ref.dxf   ");
  typePath(kTargetBoxId, QString::fromStdString(longTarget));
  click(kSaveTargetButtonId);
  ASSERT_EQ(run.calls.size(), 1u);
  EXPECT_EQ(run.calls[0].first, "/models/ref.dxf");
  EXPECT_EQ(run.calls[0].second, longTarget);
  EXPECT_EQ(linesOf(referenceList), std::vector<std::string>{"/models/ref.dxf"});
  EXPECT_EQ(linesOf(targetList), std::vector<std::string>{longTarget});
  // A failed run leaves the boxes as typed.
  EXPECT_EQ(comboBox(kReferenceBoxId)->currentText(), "/models/ref.dxf   ");

  // Empty boxes still start the run, and add nothing to the lists.
  typePath(kReferenceBoxId, "");
  typePath(kTargetBoxId, "  ");
  click(kSaveTargetButtonId);
  ASSERT_EQ(run.calls.size(), 2u);
  EXPECT_EQ(run.calls[1], std::make_pair(std::string(), std::string()));
  EXPECT_EQ(referenceList->count, 1);
  EXPECT_EQ(targetList->count, 1);
}

TEST_F(DialogTest, EnterInAPathBoxStartsTheRun) {
  RecordedRun run;
  openDialog(run.function(), neverSave);
  typePath(kTargetBoxId, "/models/target.dxf");
  QTest::keyClick(comboBox(kTargetBoxId)->lineEdit(), Qt::Key_Return);
  ASSERT_EQ(run.calls.size(), 1u);
  EXPECT_EQ(run.calls[0].second, "/models/target.dxf");
  EXPECT_TRUE(dialog->isVisible());
}

// Escape, the close box and "exit" all end the dialog and write the recent lists.
TEST_F(DialogTest, EveryWayOfClosingWritesTheLists) {
  const std::vector<std::pair<const char*, std::function<void(DialogTest&)>>> ways = {
      {"escape",
       [](DialogTest& t) {
         QTest::keyClick(t.comboBox(kReferenceBoxId)->lineEdit(), Qt::Key_Escape);
       }},
      {"close box", [](DialogTest& t) { t.dialog->close(); }},
      {"exit", [](DialogTest& t) { t.click(kExitButtonId); }},
  };
  for (const auto& [name, close] : ways) {
    SCOPED_TRACE(name);
    std::remove(folder.file("reflist.txt").c_str());
    RecordedRun run;
    openDialog(run.function(), neverSave);
    typePath(kReferenceBoxId, QString("/models/") + name + ".dxf");
    click(kSaveTargetButtonId);
    close(*this);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(readFileBytes(folder.file("reflist.txt")),
              std::string("/models/") + name + ".dxf\r\n");
    EXPECT_EQ(referenceList, nullptr);
  }
}

TEST_F(DialogTest, BrowseButtonsPutTheChosenFileInTheBoxOnly) {
  writeFileBytes(folder.file("reflist.txt"), "/data/models/ref.dxf\r\n/old/one.dxf\r\n");
  openDialog(RecordedRun().function(), neverSave);
  EXPECT_EQ(comboBox(kReferenceBoxId)->currentText(), "/data/models/ref.dxf");
  EXPECT_EQ(comboBox(kReferenceBoxId)->count(), 2);

  chooser.answers = {"/picked/a.dxf", QString()};
  click(kBrowseReferenceId);
  click(kBrowseTargetId);  // cancelled
  ASSERT_EQ(chooser.requests.size(), 2u);
  const ChooserRequest& reference = chooser.requests[0];
  EXPECT_EQ(reference.title, "Load Reference DXF-file");
  EXPECT_EQ(reference.startFolder, "/data/models");
  EXPECT_EQ(reference.startName, "ref.dxf");
  EXPECT_FALSE(reference.save);
  const ChooserRequest& target = chooser.requests[1];
  EXPECT_EQ(target.title, "Load Terget DXF-file");
  EXPECT_EQ(target.startFolder, QDir::homePath());
  EXPECT_EQ(target.startName, "");

  EXPECT_EQ(comboBox(kReferenceBoxId)->currentText(), "/picked/a.dxf");
  EXPECT_EQ(comboBox(kTargetBoxId)->currentText(), "");
  EXPECT_EQ(linesOf(referenceList),
            (std::vector<std::string>{"/data/models/ref.dxf", "/old/one.dxf"}));
}

// A whole run: typed paths, the save chooser, and a file whose layers come from the reference.
TEST_F(DialogTest, WholeRunWritesTheTargetUnderTheReferencesLayers) {
  struct Case {
    const char* name;
    QString answer;  // the save chooser's answer; null cancels
    bool written;
    const char* lastLine;
  };
  const std::string out = folder.file("out.dxf");
  const Case cases[] = {
      {"saved", QString::fromStdString(out), true, "Done."},
      {"cancelled", QString(), false, "Done."},
      {"cannot write", QString::fromStdString(folder.file("no such folder/out.dxf")), false,
       "Write Error : Terget DXF"},
  };
  writeFileBytes(folder.file("ref.dxf"), dxfText({kWall, kFloor}, {}));
  TestFace targetFloor = kFloor, targetWall = kWall;
  targetFloor.layer = targetWall.layer = "0";
  writeFileBytes(folder.file("tgt.dxf"), dxfText({targetFloor, targetWall}, {"made by a test"}));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(out.c_str());
    chooser.requests.clear();
    chooser.answers = {c.answer};
    openDialog();
    typePath(kReferenceBoxId, QString::fromStdString(folder.file("ref.dxf")));
    typePath(kTargetBoxId, QString::fromStdString(folder.file("tgt.dxf")));
    click(kSaveTargetButtonId);

    QStringList lines = progressLines();
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines.first(), "Start...");
    EXPECT_TRUE(lines.contains("1 Parts / 2 Faces / 6 Points")) << lines.join('|').toStdString();
    EXPECT_EQ(lines.last(), c.lastLine);
    ASSERT_EQ(chooser.requests.size(), 1u);
    const ChooserRequest& save = chooser.requests[0];
    EXPECT_EQ(save.title, "Save Terget DXF-file");
    EXPECT_TRUE(save.save);
    EXPECT_EQ(save.startFolder.toStdString(), folder.path);
    EXPECT_EQ(save.startName, "tgt.dxf");
    // The boxes show the paths just used at the top of their lists.
    EXPECT_EQ(comboBox(kTargetBoxId)->currentText().toStdString(), folder.file("tgt.dxf"));
    EXPECT_EQ(comboBox(kTargetBoxId)->itemText(0).toStdString(), folder.file("tgt.dxf"));
    if (c.written) {
      std::vector<std::string> written = fileLines("out.dxf");
      EXPECT_EQ(faceLayers(written), (std::vector<std::string>{"FLOOR", "WALL"}));
      ASSERT_GE(written.size(), 6u);
      EXPECT_EQ(written[4], "999");
      EXPECT_EQ(written[5], "made by a test");
    } else {
      EXPECT_EQ(readFileBytes(out), "");
    }
    click(kExitButtonId);
  }
}

// The run goes on its own thread: lines appear while it runs, the controls are disabled and
// neither a second run nor closing is possible until it ends.
TEST_F(DialogTest, RunKeepsTheWindowAliveAndRefusesASecondRun) {
  std::atomic<bool> release{false};
  std::atomic<int> runs{0};
  openDialog(
      [&](DialogPort* port, const char*, const char*) {
        ++runs;
        addProgressLine(port, nullptr);
        addProgressLine(port, "Start...");
        while (!release)
          QThread::msleep(2);
        for (int i = 0; i < 300; ++i)
          addProgressLine(port, "line %d", i);
        addProgressLine(port, "Error Quit");
        return 0;
      },
      neverSave);
  progressList()->addItem("old line");
  // Checks made from inside the dialog's wait, once the run has started.
  bool checked = false;
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    if (runs == 0 || checked) return;
    checked = true;
    EXPECT_TRUE(QTest::qWaitFor([&] { return progressList()->count() == 1; }, 5000));
    EXPECT_EQ(progressLines(), QStringList{"Start..."});
    EXPECT_TRUE(dialog->isRunning());
    for (int id : {kReferenceBoxId, kBrowseReferenceId, kTargetBoxId, kBrowseTargetId,
                   kSaveTargetButtonId, kExitButtonId})
      EXPECT_FALSE(dialog->control(id)->isEnabled()) << id;
    dialog->onSaveTarget();
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    dialog->close();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(runs, 1);
    release = true;
  });
  watcher.start(5);
  click(kSaveTargetButtonId);
  EXPECT_TRUE(checked);
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(dialog->isRunning());
  QStringList lines = progressLines();
  ASSERT_EQ(lines.size(), 302);
  for (int i = 0; i < 300; ++i)
    ASSERT_EQ(lines[i + 1], QString("line %1").arg(i));
  EXPECT_EQ(lines.last(), "Error Quit");
  EXPECT_TRUE(dialog->control(kSaveTargetButtonId)->isEnabled());
}

// ---- settings, rotation box and notes ----

TEST_F(DialogTest, SwitchWordShowsTheRotationBoxAndTheChoiceIsWrittenBack) {
  std::vector<std::string> lines(kDefaultSettingsLines, kDefaultSettingsLines + 9);
  lines[0] = "3 ;sw;bit 1:Mask display readme.txt 2:Display RotCombo";
  lines[3] = "1 ;2;[0,1,2 or 3] Texture Rotation";
  std::string file;
  for (const std::string& line : lines)
    file += line + "\r\n";
  // With the default settings the box stays hidden and a run leaves the rotation alone.
  RecordedRun run;
  openDialog(run.function(), neverSave);
  EXPECT_FALSE(comboBox(kRotationBoxId)->isVisible());
  EXPECT_EQ(comboBox(kRotationBoxId)->currentIndex(), -1);
  textureRotation = 3;
  click(kSaveTargetButtonId);
  EXPECT_EQ(textureRotation, 3);
  click(kExitButtonId);

  writeFileBytes(folder.file("param.txt"), file);
  openDialog(run.function(), neverSave);
  QComboBox* rotation = comboBox(kRotationBoxId);
  EXPECT_TRUE(rotation->isVisible());
  EXPECT_TRUE(dialog->control(kRotationGroupId)->isVisible());
  ASSERT_EQ(rotation->count(), 4);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(rotation->itemText(i), QString::number(i));
  EXPECT_EQ(rotation->currentIndex(), 1);
  EXPECT_EQ(textureRotation, 1);

  rotation->setCurrentIndex(2);
  click(kSaveTargetButtonId);
  EXPECT_EQ(textureRotation, 2);
  click(kExitButtonId);
  lines[3][0] = '2';
  EXPECT_EQ(fileLines("param.txt"), lines);
}

TEST_F(DialogTest, NotesAreShownOnTheFirstStartOnly) {
  writeFileBytes(folder.file("readme.txt"), "first note\r\n\r\nsecond note\r\n");
  openDialog(RecordedRun().function(), neverSave);
  EXPECT_EQ(progressLines(), QStringList({"first note", "second note"}));
  click(kExitButtonId);
  ASSERT_EQ(fileLines("param.txt").size(), 9u);  // the defaults, switch word 1

  openDialog(RecordedRun().function(), neverSave);
  EXPECT_EQ(progressLines(), QStringList());
}

// An installed program reads its notes from the shared data folder, not from the folder its
// settings are written to.
TEST_F(DialogTest, NotesAreReadFromTheNotesPath) {
  ScratchFolder installed;
  writeFileBytes(installed.file("readme.txt"), "installed note\r\n");
  writeFileBytes(folder.file("readme.txt"), "stale note\r\n");
  ASSERT_EQ(setNotesPath(installed.file("readme.txt").c_str()), 1);
  openDialog(RecordedRun().function(), neverSave);
  EXPECT_EQ(progressLines(), QStringList({"installed note"}));
}

// ---- the screenshot ----

TEST_F(DialogTest, ScreenshotIsSavedAsATestArtifact) {
  writeFileBytes(folder.file("readme.txt"), "Morvane ver. 2.01 - notes\r\n");
  writeFileBytes(folder.file("reflist.txt"), "/home/user/models/house-reference.dxf\r\n");
  writeFileBytes(folder.file("tergetlist.txt"), "/home/user/models/house-target.dxf\r\n");
  openDialog(RecordedRun().function(), neverSave);
  QImage shot = dialog->grab().toImage();
  ASSERT_EQ(shot.size(), dialog->size() * shot.devicePixelRatio());
  // Something was drawn: the image is not one flat colour.
  bool varied = false;
  for (int y = 0; y < shot.height() && !varied; y += 3)
    for (int x = 0; x < shot.width() && !varied; x += 3)
      varied = shot.pixel(x, y) != shot.pixel(0, 0);
  EXPECT_TRUE(varied);
  ASSERT_TRUE(QDir().mkpath(MORVANE_TEST_ARTIFACTS));
  EXPECT_TRUE(shot.save(QStringLiteral(MORVANE_TEST_ARTIFACTS "/morvane-dialog.png")));
}
