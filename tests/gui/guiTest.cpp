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

namespace {

// The person at the screen: answers the next modal window that shows.
void answerModal(const std::function<void(QWidget*)>& answer) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [=] {
    if (QWidget* modal = QApplication::activeModalWidget()) timer->deleteLater(), answer(modal);
  });
  timer->start(10);
}

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
    if (dialog && dialog->isVisible()) dialog->reject();
    releaseRunData(), setProgramDirectory();
  }
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
    QTest::keyClick(box(id)->lineEdit(), Qt::Key_Delete);
    QTest::keyClicks(box(id)->lineEdit(), text);
  }
  void click(int id) { QTest::mouseClick(dialog->control(id), Qt::LeftButton); }
  std::string file(const char* name) const { return folder.file(name); }

  ScratchFolder folder;
  QStringList answers, started, calls;
  std::unique_ptr<MainDialog> dialog;
};

}  // namespace

// Dialog units round half away from zero; the controls keep the template's ids, texts, places
// and tab order; the screenshot (shown in the README) is kept as a test artifact.
TEST_F(Dialog, ControlsFollowTheTemplateAndTheScreenshotIsSaved) {
  EXPECT_EQ(DialogUnits({6, 13}).toPixels(274, 23, 19, 12), QRect(411, 37, 29, 20));
  writeFileBytes(file("readme.txt"), "Morvane ver. 2.01 - notes\r\n");
  writeFileBytes(file("reflist.txt"), "/home/user/models/house-reference.dxf\r\n");
  open();
  EXPECT_TRUE(dialog->windowTitle() == "Morvane ver. 2.01" && !dialog->windowIcon().isNull());
  DialogUnits units = dialogUnitsOf(dialog->font());
  EXPECT_EQ(dialog->size(), QSize(units.toPixelsX(299), units.toPixelsY(166)));
  QStringList labels;
  for (const ControlTemplate& entry : kDialogControls) {
    QWidget* widget = entry.id == kStaticId ? nullptr : dialog->control(entry.id);
    QRect place = units.toPixels(entry.x, entry.y, entry.width, entry.height);
    auto* button = qobject_cast<QPushButton*>(widget);
    EXPECT_TRUE(!widget || (widget->objectName().toInt() == entry.id &&
                            widget->pos() == place.topLeft() && widget->width() == place.width() &&
                            widget->isVisibleTo(dialog.get()) != entry.hidden &&
                            (button ? button->text() : entry.text) == entry.text))
        << entry.id;
    labels << (widget ? "" : entry.text);
  }
  for (QLabel* label : dialog->findChildren<QLabel*>())
    labels.removeOne(label->text());
  EXPECT_EQ(labels.join(""), "");
  EXPECT_TRUE(qobject_cast<QPushButton*>(dialog->control(kSaveTargetButtonId))->isDefault());
  QList<int> chain;  // the controls Tab visits, from the reference path box on
  box(kReferenceBoxId)->setFocus();
  for (int i = 0; i < 8; ++i, QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab))
    chain << dialog->focusWidget()->property("controlId").toInt();
  EXPECT_EQ(chain,
            QList<int>({kReferenceBoxId, kBrowseReferenceId, kTargetBoxId, kBrowseTargetId,
                        kSaveTargetButtonId, kExitButtonId, kProgressListId, kReferenceBoxId}));
  QImage shot = dialog->grab().toImage();
  EXPECT_EQ(shot.size(), dialog->size() * shot.devicePixelRatio());
  EXPECT_TRUE(QDir().mkpath(MORVANE_TEST_ARTIFACTS) &&
              shot.save(QStringLiteral(MORVANE_TEST_ARTIFACTS "/morvane-dialog.png")));
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
  EXPECT_EQ(started.join('*'), "0/data/models|ref.dxf*1" + QDir::homePath() + '|');
  EXPECT_EQ(box(kReferenceBoxId)->currentText() + box(kTargetBoxId)->currentText(),
            "/picked/a.dxf");
  const QString longTarget = QString(300, 't') + ".dxf";
  type(kTargetBoxId, longTarget);
  click(kSaveTargetButtonId);
  type(kReferenceBoxId, "/models/ref.dxf   "), type(kTargetBoxId, "  ");
  QTest::keyClick(box(kTargetBoxId)->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(calls, QStringList({"/picked/a.dxf|" + longTarget, "/models/ref.dxf|"}));
  EXPECT_EQ(box(kReferenceBoxId)->currentText(), "/models/ref.dxf   ");  // a failed run: as typed
  for (const std::function<void()>& close :
       {std::function<void()>(
            [&] { QTest::keyClick(box(kReferenceBoxId)->lineEdit(), Qt::Key_Escape); }),
        std::function<void()>([&] { dialog->close(); }),
        std::function<void()>([&] { click(kExitButtonId); })}) {
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
  writeFileBytes(file("tgt.dxf"), dxfText({{"0", floor.corners}, {"0", wall.corners}}));
  const QString out = QString::fromStdString(file("out.dxf")), bad = out + "/no/out.dxf";
  for (const QString& answer : {out, QString(), bad}) {
    started.clear(), answers = {answer}, std::remove(file("out.dxf").c_str());
    open(runMatching, saveTargetDxf);
    type(kReferenceBoxId, QString::fromStdString(file("ref.dxf")));
    type(kTargetBoxId, QString::fromStdString(file("tgt.dxf")));
    click(kSaveTargetButtonId);
    EXPECT_EQ(progress(), "Start...|1 Parts / 2 Faces / 6 Points|Done." +
                              QString(answer == bad ? "|Write Error : Terget DXF" : ""));
    EXPECT_EQ(started.join('*').toStdString(), "2" + folder.path + "|tgt.dxf");
    EXPECT_EQ(box(kTargetBoxId)->itemText(0).toStdString(), file("tgt.dxf"));  // on top
    EXPECT_EQ(
        dxfLayers(readFileBytes(file("out.dxf"))),
        (answer == out ? std::vector<std::string>{"FLOOR", "WALL"} : std::vector<std::string>{}));
    click(kExitButtonId);
  }
}

// The run goes on its own thread: lines appear while it runs (a new run empties the list), the
// controls are disabled and neither a second run nor closing is possible until it ends.
TEST_F(Dialog, RunKeepsTheWindowAliveAndRefusesASecondRun) {
  std::atomic<int> runs{0}, release{0};
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
    bool shown = QTest::qWaitFor([&] { return progress() == "Start..."; }, 5000);
    for (int id : {kReferenceBoxId, kBrowseReferenceId, kTargetBoxId, kBrowseTargetId,
                   kSaveTargetButtonId, kExitButtonId})
      EXPECT_FALSE(dialog->control(id)->isEnabled()) << id;
    dialog->onSaveTarget(), dialog->close();
    QTest::keyClick(dialog.get(), Qt::Key_Return), QTest::keyClick(dialog.get(), Qt::Key_Escape);
    release = shown && dialog->isVisible() && dialog->isRunning() ? 1 : 2;
  });
  watcher.start(5);
  click(kSaveTargetButtonId);
  EXPECT_TRUE(release == 1 && runs == 1 && dialog->control(kSaveTargetButtonId)->isEnabled());
  EXPECT_EQ(progress().count('|'), 300);
  EXPECT_TRUE(progress().startsWith("Start...|line 0|") && progress().endsWith("|line 299"));
}

// The notes show on the first start only (the defaults then written hide them), from the notes
// path when one is set; the switch word shows the rotation box, whose choice is written back.
TEST_F(Dialog, SettingsDecideTheNotesAndTheRotationBox) {
  writeFileBytes(file("readme.txt"), "first note\r\n\r\nsecond note\r\n");
  open();
  EXPECT_TRUE(progress() == "first note|second note" && !box(kRotationBoxId)->isVisible());
  textureRotation = 3;
  click(kSaveTargetButtonId), click(kExitButtonId);  // the hidden box leaves the rotation alone
  std::string settings = readFileBytes(file("param.txt"));
  EXPECT_TRUE(textureRotation == 3 && settings.substr(0, 3) == "1 ;");
  open();
  EXPECT_EQ(progress(), "");
  click(kExitButtonId);
  writeFileBytes(file("param.txt"),
                 settings.replace(0, 1, "3").replace(settings.find("0 ;2;"), 1, "1"));
  open();
  EXPECT_TRUE(box(kRotationBoxId)->isVisible() && dialog->control(kRotationGroupId)->isVisible());
  EXPECT_TRUE(box(kRotationBoxId)->count() == 4 && box(kRotationBoxId)->currentText() == "1");
  box(kRotationBoxId)->setCurrentIndex(2);
  click(kSaveTargetButtonId), click(kExitButtonId);
  EXPECT_EQ(readFileBytes(file("param.txt")), settings.replace(settings.find("1 ;2;"), 1, "2"));
  std::remove(file("param.txt").c_str());  // an installed program's first start
  writeFileBytes(file("notes"), "installed note\r\n");
  ASSERT_EQ(setNotesPath(file("notes").c_str()), 1);
  open();
  EXPECT_EQ(progress(), "installed note");
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
    EXPECT_TRUE(request.startFolder + '|' + request.startName == start && request.kind == kind &&
                request.title == titles[int(kind)] &&
                request.save == (kind == ChooserKind::saveTarget) &&
                request.defaultSuffix == "dxf" &&
                request.nameFilters == QStringList({"DXF files(*.dxf)", "All files (*.*)"}))
        << start.toStdString();
  }
  ScratchFolder folder;
  writeFileBytes(folder.file("ref.dxf"), "0\r\nEOF\r\n");
  for (const char* typed : {"", "result"}) {
    ChooserRequest request =
        chooserRequest(*typed ? ChooserKind::saveTarget : ChooserKind::openReference,
                       testLines({folder.file("ref.dxf").c_str()}).get(), "/");
    answerModal([&](QWidget* modal) {
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
      EXPECT_TRUE(dialog->windowTitle() == request.title &&
                  dialog->selectedNameFilter() == "DXF files(*.dxf)" &&
                  dialog->directory().absolutePath().toStdString() == folder.path &&
                  name->text() == "ref.dxf");
      EXPECT_EQ(dialog->acceptMode(),
                request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
      EXPECT_EQ(dialog->fileMode(),
                request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
      EXPECT_EQ(dialog->testOption(QFileDialog::DontConfirmOverwrite), !request.save);
      if (*typed) QApplication::setActiveWindow(dialog), name->setFocus(), name->selectAll();
      QTest::keyClicks(name, typed),
          static_cast<QDialog*>(dialog)->accept();  // typing drops the selected file
    });
    EXPECT_EQ(QtFileChooser().choose(nullptr, request).toStdString(),
              folder.file(*typed ? "result.dxf" : "ref.dxf"));
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
        << notes.toStdString();
  }
  EXPECT_EQ(notesCandidatesFor("/opt/m/bin").mid(0, 2).join('|'),
            "/opt/m/bin/readme.txt|/opt/m/share/morvane/readme.txt");
}

// The report is a modal box titled "Morvane Error" with the critical icon, from the dialog's
// thread and from a run's thread alike, and the message also lands in "perr.txt".
TEST(ErrorBox, ShowsTheReportModallyFromAnyThread) {
  ScratchFolder folder;
  setProgramDirectoryTo(folder.path.c_str()), setErrorPresenter(showErrorBox);
  for (std::string name : {"gcalloc", "gcrealloc"}) {
    QString shown;
    answerModal([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      EXPECT_TRUE(box->windowTitle() == "Morvane Error" && box->icon() == QMessageBox::Critical);
      shown = box->text(), box->accept();
    });
    std::atomic<bool> done{false};
    std::thread worker([&] {  // reports from here, or only ends
      if (name == "gcrealloc") reportError("%s", name.c_str());
      done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
    worker.join();
    if (name == "gcalloc") reportError("%s", name.c_str());
    EXPECT_TRUE(shown.toStdString() == name &&
                readFileBytes(folder.file("perr.txt")) == name + "\r\n");
  }
  setErrorPresenter(nullptr), setProgramDirectory();
}
