#pragma once
// Helpers for the dialog's tests: a chooser answered by the test, a fixture that puts the
// remembered files in a scratch folder, and tiny DXF files.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QListWidget>
#include <QStringList>
#include <deque>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/controlIds.h"
#include "app/dialog/fileChooser.h"
#include "app/dialog/mainDialog.h"
#include "support/testSupport.h"

// Texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

// Answers each chooser with the next queued answer (a null QString cancels) and records what
// it was asked.
class ScriptedChooser : public FileChooser {
 public:
  QString choose(QWidget* owner, const ChooserRequest& request) override;
  std::deque<QString> answers;
  std::vector<ChooserRequest> requests;
};

// A dialog whose program folder is a scratch folder.
class DialogTest : public ::testing::Test {
 public:
  void SetUp() override;
  void TearDown() override;
  // Builds the dialog (loading the settings from the scratch folder) and shows it.
  MainDialog& openDialog(MainDialog::RunFunction run, MainDialog::SaveFunction save);
  MainDialog& openDialog();  // with the core's runMatching and saveTargetDxf

  QComboBox* comboBox(int id) const;
  QListWidget* progressList() const;
  QStringList progressLines() const;
  // Types `text` into path box `id` as a person would, replacing what it held.
  void typePath(int id, const QString& text);
  void click(int id);
  // The lines of a file in the scratch folder, line ends removed.
  std::vector<std::string> fileLines(const std::string& name) const;

  ScratchFolder folder;
  ScriptedChooser chooser;
  std::unique_ptr<MainDialog> dialog;
};

// A DXF file of 3DFACE entities, each given by its layer and four corners, after the comments.
struct TestFace {
  std::string layer;
  double corners[4][3];
};
std::string dxfText(const std::vector<TestFace>& faces, const std::vector<std::string>& comments);
// The layer line of every 3DFACE in a DXF text, in order.
std::vector<std::string> faceLayers(const std::vector<std::string>& dxfLines);
