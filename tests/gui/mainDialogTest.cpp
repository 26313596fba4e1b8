#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>
#include <atomic>
#include <functional>

#include "app/dialog/dialogTemplate.h"
#include "app/dialog/mainDialog.h"
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

using Paths = std::pair<std::string, std::string>;
using Lines = std::vector<std::string>;

std::string crlfLines(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\r\n";
  return text;
}

int neverSave(const char*) {
  ADD_FAILURE() << "nothing may be written";
  return 0;
}

// A dialog whose program folder is a scratch folder. The test answers its choosers.
class DialogTest : public ::testing::Test, public FileChooser {
 protected:
  // Answers with the next queued answer (none left, or a null QString, cancels).
  QString choose(QWidget*, const ChooserRequest& request) override {
    requests.push_back(request);
    return answers.isEmpty() ? QString() : answers.takeFirst();
  }
  void SetUp() override {
    setProgramDirectoryTo(folder.path.c_str());
    setNotesPath(nullptr);
    matchSettings = MatchSettings{};
    textureRotation = 0;
    saveSettingsOnExit = false;
  }
  void TearDown() override {
    dialog.reset();
    // A dialog the test did not close still holds the lists; they belong to the scratch folder.
    if (referenceList || targetList || settingsLines) saveSettingsAndLists();
    releaseRunData();
  }
  // Builds the dialog (loading the settings from the scratch folder) and shows it. By default
  // the run only records its paths and fails, as a run of missing files would.
  void open(MainDialog::RunFunction run = nullptr, MainDialog::SaveFunction save = neverSave) {
    auto record = [this](DialogPort*, const char* reference, const char* target) {
      calls.emplace_back(reference, target);
      return 0;
    };
    dialog = std::make_unique<MainDialog>(*this, run ? run : record, save);
    dialog->show();
    QApplication::setActiveWindow(dialog.get());
    EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
  }
  QComboBox* box(int id) const { return qobject_cast<QComboBox*>(dialog->control(id)); }
  QStringList progressLines() const {
    QStringList lines;
    for (QListWidgetItem* item :
         dialog->findChild<QListWidget*>()->findItems(".*", Qt::MatchRegularExpression))
      lines << item->text();
    return lines;
  }
  // Types `text` into path box `id` as a person would, replacing what it held.
  void typePath(int id, const QString& text) {
    box(id)->setFocus();
    box(id)->lineEdit()->selectAll();
    QTest::keyClick(box(id)->lineEdit(), Qt::Key_Delete);
    QTest::keyClicks(box(id)->lineEdit(), text);
  }
  void click(int id) { QTest::mouseClick(dialog->control(id), Qt::LeftButton); }
  // Where chooser request `i` started: folder and name.
  QString started(size_t i) const {
    return requests.at(i).startFolder + '|' + requests.at(i).startName;
  }

  ScratchFolder folder;
  QStringList answers;
  std::vector<ChooserRequest> requests;
  std::unique_ptr<MainDialog> dialog;
  std::vector<Paths> calls;
};

}  // namespace

TEST(DialogUnits, ConvertWithTheFontsAverageWidthAndHeight) {
  DialogUnits units{6, 13};  // MS Sans Serif 8 on the original platform
  EXPECT_EQ(units.toPixels(0, 0, 299, 166), QRect(0, 0, 449, 270));
  EXPECT_EQ(units.toPixels(274, 23, 19, 12), QRect(411, 37, 29, 20));
  EXPECT_EQ(units.toPixels(0, 129, 299, 37), QRect(0, 210, 449, 60));
}

// The controls keep the template's ids, texts, places and tab order; the screenshot of the
// dialog is kept as a test artifact.
TEST_F(DialogTest, ControlsFollowTheTemplateAndTheScreenshotIsSaved) {
  writeFileBytes(folder.file("readme.txt"), "Morvane ver. 2.01 - notes\r\n");
  writeFileBytes(folder.file("reflist.txt"), "/home/user/models/house-reference.dxf\r\n");
  writeFileBytes(folder.file("tergetlist.txt"), "/home/user/models/house-target.dxf\r\n");
  open();
  EXPECT_EQ(dialog->windowTitle(), "Morvane ver. 2.01");
  EXPECT_FALSE(dialog->windowIcon().isNull());
  DialogUnits units = dialogUnitsOf(dialog->font());
  EXPECT_EQ(dialog->size(), QSize(units.toPixelsX(299), units.toPixelsY(166)));
  for (const ControlTemplate& entry : kDialogControls) {
    if (entry.id == kStaticId) continue;
    SCOPED_TRACE(entry.id);
    QWidget* widget = dialog->findChild<QWidget*>(QString::number(entry.id));
    ASSERT_EQ(widget, dialog->control(entry.id));
    ASSERT_NE(widget, nullptr);
    QRect place = units.toPixels(entry.x, entry.y, entry.width, entry.height);
    EXPECT_EQ(widget->pos(), place.topLeft());
    EXPECT_EQ(widget->width(), place.width());
    EXPECT_EQ(widget->isVisibleTo(dialog.get()), !entry.hidden);
    auto* button = qobject_cast<QPushButton*>(widget);
    EXPECT_EQ(button ? button->text() : entry.text, entry.text);
  }
  QStringList labels;
  for (QLabel* label : dialog->findChildren<QLabel*>())
    if (!label->text().isEmpty()) labels << label->text();
  EXPECT_EQ(labels, QStringList({"Reference dxf file it was exported by Kelvoran",
                                 "Terget dxf file it was exported by Metasequoia"}));
  EXPECT_EQ(qobject_cast<QGroupBox*>(dialog->control(kRotationGroupId))->title(), "Rotation");
  EXPECT_TRUE(qobject_cast<QPushButton*>(dialog->control(kSaveTargetButtonId))->isDefault());
  QList<int> chain;  // the controls Tab visits, from the reference path box on
  box(kReferenceBoxId)->setFocus();
  for (int i = 0; i < 8; ++i, QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab))
    chain << dialog->focusWidget()->property("controlId").toInt();
  EXPECT_EQ(chain,
            QList<int>({kReferenceBoxId, kBrowseReferenceId, kTargetBoxId, kBrowseTargetId,
                        kSaveTargetButtonId, kExitButtonId, kProgressListId, kReferenceBoxId}));

  QImage shot = dialog->grab().toImage(), flat(shot.size(), shot.format());
  ASSERT_EQ(shot.size(), dialog->size() * shot.devicePixelRatio());
  flat.fill(shot.pixel(0, 0));
  EXPECT_NE(shot, flat);  // something was drawn
  ASSERT_TRUE(QDir().mkpath(MORVANE_TEST_ARTIFACTS));
  EXPECT_TRUE(shot.save(QStringLiteral(MORVANE_TEST_ARTIFACTS "/morvane-dialog.png")));
}

// ">>" asks the chooser, starting from the box's recent list or the home folder; a chosen file
// becomes the box's text, a cancel changes nothing. "Save Terget.." and Enter in a path box
// start the run with the boxes' paths, trimmed and of any length; only then do non-empty ones
// go to the top of the recent lists.
TEST_F(DialogTest, BrowseButtonsAndTypedPathsFeedTheRun) {
  writeFileBytes(folder.file("reflist.txt"), "/data/models/ref.dxf\r\n/old/one.dxf\r\n");
  open();
  EXPECT_EQ(box(kReferenceBoxId)->currentText(), "/data/models/ref.dxf");
  EXPECT_EQ(box(kReferenceBoxId)->count(), 2);
  answers = {"/picked/a.dxf", QString()};
  click(kBrowseReferenceId);
  click(kBrowseTargetId);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].kind, ChooserKind::openReference);
  EXPECT_EQ(started(0), "/data/models|ref.dxf");
  EXPECT_EQ(requests[1].kind, ChooserKind::openTarget);
  EXPECT_EQ(started(1), QDir::homePath() + '|');
  EXPECT_EQ(box(kReferenceBoxId)->currentText(), "/picked/a.dxf");
  EXPECT_EQ(box(kTargetBoxId)->currentText(), "");
  EXPECT_EQ(linesOf(referenceList), Lines({"/data/models/ref.dxf", "/old/one.dxf"}));

  std::string longTarget = folder.path + "/" + std::string(300, 't') + ".dxf";
  typePath(kTargetBoxId, QString::fromStdString(longTarget));
  click(kSaveTargetButtonId);
  typePath(kReferenceBoxId, "/models/ref.dxf   ");
  typePath(kTargetBoxId, "  ");
  QTest::keyClick(box(kTargetBoxId)->lineEdit(), Qt::Key_Return);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(calls, std::vector<Paths>({{"/picked/a.dxf", longTarget}, {"/models/ref.dxf", ""}}));
  EXPECT_EQ(linesOf(referenceList),
            Lines({"/models/ref.dxf", "/picked/a.dxf", "/data/models/ref.dxf", "/old/one.dxf"}));
  EXPECT_EQ(linesOf(targetList), Lines{longTarget});
  EXPECT_EQ(box(kReferenceBoxId)->currentText(), "/models/ref.dxf   ");  // a failed run: as typed
}

// Escape, the close box and "exit" all end the dialog and write the recent lists.
TEST_F(DialogTest, EveryWayOfClosingWritesTheLists) {
  const std::pair<const char*, std::function<void()>> ways[] = {
      {"escape", [this] { QTest::keyClick(box(kReferenceBoxId)->lineEdit(), Qt::Key_Escape); }},
      {"close box", [this] { dialog->close(); }},
      {"exit", [this] { click(kExitButtonId); }},
  };
  for (const auto& [name, close] : ways) {
    SCOPED_TRACE(name);
    std::remove(folder.file("reflist.txt").c_str());
    open();
    typePath(kReferenceBoxId, QString(name));
    click(kSaveTargetButtonId);
    close();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(readFileBytes(folder.file("reflist.txt")), std::string(name) + "\r\n");
    EXPECT_EQ(referenceList, nullptr);
  }
}

// A whole run from typed paths: the save chooser, and a file whose faces carry the reference's
// layers; a cancelled save writes nothing, a failed one says so in the progress list.
TEST_F(DialogTest, WholeRunWritesTheTargetUnderTheReferencesLayers) {
  const std::string ref = folder.file("ref.dxf"), tgt = folder.file("tgt.dxf");
  const QString out = QString::fromStdString(folder.file("out.dxf")), bad = out + "/no/out.dxf";
  const DxfFace wall = {"WALL", {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}}};
  const DxfFace floor = {"FLOOR", {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}}};
  writeFileBytes(ref, dxfText({wall, floor}));
  writeFileBytes(tgt, dxfText({{"0", floor.corners}, {"0", wall.corners}}, {"made by a test"}));
  for (const QString& answer : {out, QString(), bad}) {
    SCOPED_TRACE(answer.toStdString());
    std::remove(folder.file("out.dxf").c_str());
    requests.clear();
    answers = {answer};
    open(runMatching, saveTargetDxf);
    typePath(kReferenceBoxId, QString::fromStdString(ref));
    typePath(kTargetBoxId, QString::fromStdString(tgt));
    click(kSaveTargetButtonId);
    QStringList lines = {"Start...", "1 Parts / 2 Faces / 6 Points", "Done."};
    if (answer == bad) lines << "Write Error : Terget DXF";  // after a run, a failed save says so
    EXPECT_EQ(progressLines(), lines);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].kind, ChooserKind::saveTarget);
    EXPECT_EQ(started(0).toStdString(), folder.path + "|tgt.dxf");
    EXPECT_EQ(box(kTargetBoxId)->itemText(0).toStdString(), tgt);  // the path used, on top
    std::string written = readFileBytes(folder.file("out.dxf"));
    const std::string head = "0\r\nSECTION\r\n2\r\nENTITIES\r\n999\r\nmade by a test\r\n0\r\n";
    EXPECT_EQ(written.substr(0, head.size()), answer == out ? head : "");
    EXPECT_EQ(dxfLayers(written), answer == out ? Lines({"FLOOR", "WALL"}) : Lines());
    click(kExitButtonId);
  }
}

// The run goes on its own thread: lines appear while it runs, the controls are disabled and
// neither a second run nor closing is possible until it ends.
TEST_F(DialogTest, RunKeepsTheWindowAliveAndRefusesASecondRun) {
  std::atomic<bool> release{false};
  std::atomic<int> runs{0};
  open([&](DialogPort* port, const char*, const char*) {
    ++runs;
    addProgressLine(port, nullptr);
    addProgressLine(port, "Start...");
    while (!release)
      QThread::msleep(2);
    for (int i = 0; i < 300; ++i)
      addProgressLine(port, "line %d", i);
    addProgressLine(port, "Error Quit");
    return 0;
  });
  dialog->findChild<QListWidget*>()->addItem("old line");
  bool checked = false;  // checks made from inside the dialog's wait, once the run has started
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    if (runs == 0 || checked) return;
    checked = true;
    EXPECT_TRUE(QTest::qWaitFor([&] { return progressLines() == QStringList{"Start..."}; }, 5000));
    EXPECT_TRUE(dialog->isRunning());
    for (int id : {kReferenceBoxId, kBrowseReferenceId, kTargetBoxId, kBrowseTargetId,
                   kSaveTargetButtonId, kExitButtonId})
      EXPECT_FALSE(dialog->control(id)->isEnabled()) << id;
    dialog->onSaveTarget();
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    dialog->close();
    EXPECT_TRUE(dialog->isVisible());
    release = true;
  });
  watcher.start(5);
  click(kSaveTargetButtonId);
  EXPECT_TRUE(checked);
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(dialog->isRunning());
  EXPECT_TRUE(dialog->control(kSaveTargetButtonId)->isEnabled());
  QStringList expected = {"Start..."};
  for (int i = 0; i < 300; ++i)
    expected << QString("line %1").arg(i);
  EXPECT_EQ(progressLines(), expected << "Error Quit");
}

// The notes show on the first start only (the defaults then written mask them), from the notes
// path when one is set; the switch word shows the rotation box, whose choice is written back.
TEST_F(DialogTest, SettingsDecideTheNotesAndTheRotationBox) {
  const std::string param = folder.file("param.txt");
  writeFileBytes(folder.file("readme.txt"), "first note\r\n\r\nsecond note\r\n");
  open();
  EXPECT_EQ(progressLines(), QStringList({"first note", "second note"}));
  QComboBox* rotation = box(kRotationBoxId);
  EXPECT_FALSE(rotation->isVisible());
  EXPECT_EQ(rotation->currentIndex(), -1);
  textureRotation = 3;
  click(kSaveTargetButtonId);  // the hidden box leaves the rotation alone
  EXPECT_EQ(textureRotation, 3);
  click(kExitButtonId);
  Lines lines(kDefaultSettingsLines, kDefaultSettingsLines + 9);
  EXPECT_EQ(readFileBytes(param), crlfLines(lines));
  open();
  EXPECT_EQ(progressLines(), QStringList());
  click(kExitButtonId);

  lines[0] = "3 ;sw;bit 1:Mask display readme.txt 2:Display RotCombo";
  lines[3] = "1 ;2;[0,1,2 or 3] Texture Rotation";
  writeFileBytes(param, crlfLines(lines));
  open();
  rotation = box(kRotationBoxId);
  EXPECT_TRUE(rotation->isVisible());
  EXPECT_TRUE(dialog->control(kRotationGroupId)->isVisible());
  QStringList items;
  for (int i = 0; i < rotation->count(); ++i)
    items << rotation->itemText(i);
  EXPECT_EQ(items, QStringList({"0", "1", "2", "3"}));
  EXPECT_EQ(rotation->currentIndex(), 1);
  EXPECT_EQ(textureRotation, 1);
  rotation->setCurrentIndex(2);
  click(kSaveTargetButtonId);
  EXPECT_EQ(textureRotation, 2);
  click(kExitButtonId);
  lines[3][0] = '2';
  EXPECT_EQ(readFileBytes(param), crlfLines(lines));

  std::remove(param.c_str());  // an installed program's first start
  ScratchFolder installed;
  writeFileBytes(installed.file("readme.txt"), "installed note\r\n");
  ASSERT_EQ(setNotesPath(installed.file("readme.txt").c_str()), 1);
  open();
  EXPECT_EQ(progressLines(), QStringList({"installed note"}));
}
