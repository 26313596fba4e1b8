#include "guiTestSupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <sstream>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "match/matchingRun.h"
#include "model/faceModel.h"
#include "output/dxfWriter.h"
#include "textfiles/notesPath.h"
#include "textfiles/settings.h"

QString ScriptedChooser::choose(QWidget*, const ChooserRequest& request) {
  requests.push_back(request);
  if (answers.empty()) return QString();
  QString answer = answers.front();
  answers.pop_front();
  return answer;
}

void DialogTest::SetUp() {
  setProgramDirectoryTo(folder.path.c_str());
  setNotesPath(nullptr);
  matchSettings = MatchSettings{};
  textureRotation = 0;
  saveSettingsOnExit = false;
}

void DialogTest::TearDown() {
  dialog.reset();
  // A dialog the test did not close still holds the lists; they belong to the scratch folder.
  if (referenceList || targetList || settingsLines) saveSettingsAndLists();
  releaseRunData();
  setErrorPresenter(nullptr);
}

MainDialog& DialogTest::openDialog(MainDialog::RunFunction run, MainDialog::SaveFunction save) {
  dialog = std::make_unique<MainDialog>(chooser, std::move(run), std::move(save));
  dialog->show();
  QApplication::setActiveWindow(dialog.get());
  EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
  return *dialog;
}

MainDialog& DialogTest::openDialog() {
  return openDialog(runMatching, saveTargetDxf);
}

QComboBox* DialogTest::comboBox(int id) const {
  return dialog->findChild<QComboBox*>(QString::number(id));
}

QListWidget* DialogTest::progressList() const {
  return dialog->findChild<QListWidget*>(QString::number(kProgressListId));
}

QStringList DialogTest::progressLines() const {
  QStringList lines;
  for (int i = 0; i < progressList()->count(); ++i)
    lines << progressList()->item(i)->text();
  return lines;
}

void DialogTest::typePath(int id, const QString& text) {
  QLineEdit* edit = comboBox(id)->lineEdit();
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, text);
}

void DialogTest::click(int id) {
  QTest::mouseClick(dialog->findChild<QPushButton*>(QString::number(id)), Qt::LeftButton);
}

std::vector<std::string> DialogTest::fileLines(const std::string& name) const {
  std::vector<std::string> lines;
  std::istringstream in(readFileBytes(folder.file(name)));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string dxfText(const std::vector<TestFace>& faces, const std::vector<std::string>& comments) {
  std::ostringstream out;
  for (const std::string& comment : comments)
    out << "999\r\n" << comment << "\r\n";
  out << "0\r\nSECTION\r\n2\r\nENTITIES\r\n";
  for (const TestFace& face : faces) {
    out << "0\r\n3DFACE\r\n8\r\n" << face.layer << "\r\n";
    for (int k = 0; k < 4; ++k)
      for (int axis = 0; axis < 3; ++axis)
        out << (axis + 1) * 10 + k << "\r\n" << face.corners[k][axis] << "\r\n";
  }
  out << "0\r\nENDSEC\r\n0\r\nEOF\r\n";
  return out.str();
}

std::vector<std::string> faceLayers(const std::vector<std::string>& lines) {
  std::vector<std::string> layers;
  for (size_t i = 0; i + 3 < lines.size(); ++i)
    if (lines[i] == "0" && lines[i + 1] == "3DFACE" && lines[i + 2] == "8")
      layers.push_back(lines[i + 3]);
  return layers;
}
