#pragma once
// The main dialog: two path boxes with their recent files and ">>" choosers, "Save Terget..",
// "exit", the rotation box the switch word can show, and the progress list. Every action is a
// button; the work is the core's. The core reaches the widgets through a DialogPort.
#include <QByteArray>
#include <QDialog>
#include <QIcon>
#include <QString>
#include <atomic>
#include <functional>
#include <map>

#include "app/dialog/fileChooser.h"
#include "textfiles/dialogPort.h"

class QCheckBox;
class QCloseEvent;
class QComboBox;
class QListWidget;
class QPushButton;
class PreviewPane;

// The program icon (resource 128) in all its drawn sizes.
QIcon programIcon();

class MainDialog : public QDialog {
  Q_OBJECT

 public:
  // The matching run and the writer; the program passes runMatching and saveTargetDxf.
  using RunFunction =
      std::function<int(DialogPort* dialog, const char* referencePath, const char* targetPath)>;
  using SaveFunction = std::function<int(const char* path)>;

  // Builds the controls, gives the window its icon and loads the settings, recent-file lists
  // and notes (loadSettings). `chooser` must outlive the dialog.
  MainDialog(FileChooser& chooser, RunFunction run, SaveFunction save, QWidget* parent = nullptr);
  ~MainDialog() override;

  // The control with template id `id` (its object name is the id); null for none.
  QWidget* control(int id) const;
  // The dialog as the core sees it.
  DialogPort* port() { return &port_; }
  // Whether a matching run is under way (the controls are disabled meanwhile).
  bool isRunning() const { return running_; }

 public slots:
  // ">>" beside a path box: a chosen file becomes the box's text; the recent list is untouched.
  void onBrowseReference();
  void onBrowseTarget();
  // "Save Terget..": records the paths, runs the matching, asks for the output and writes it.
  void onSaveTarget();
  // "exit", Escape and the close box: ends the dialog, then writes and releases the lists.
  void reject() override;
  // "Save picture.." of the preview pane: asks where, then writes the preview picture of the
  // pane's view; a picture that could not be written is said so in the progress list.
  void onSavePicture();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildControls();
  void buildPreviewPane(const struct DialogUnits& units);
  void browse(ChooserKind kind, QComboBox* box);
  QString chooseDxfFile(ChooserKind kind);
  QByteArray trimmedPath(const QComboBox* box) const;
  int runOffThisThread(const QByteArray& referencePath, const QByteArray& targetPath);
  void setControlsEnabled(bool enabled);

  // DialogPort services, on the dialog's thread.
  int addListLine(const QString& line);
  void clearList();
  void resetCombo(int id);
  int addComboItem(int id, const QString& text);
  void setControlText(int id, const QString& text);
  void selectComboItem(int id, int index);
  void showControl(int id);
  static DialogPort makePort(MainDialog* dialog);

  FileChooser& chooser_;
  RunFunction run_;
  SaveFunction save_;
  DialogPort port_;
  std::map<int, QWidget*> controls_;
  QComboBox* referenceBox_ = nullptr;
  QComboBox* targetBox_ = nullptr;
  QComboBox* rotationBox_ = nullptr;
  QCheckBox* alignBox_ = nullptr;
  QCheckBox* keepTargetBox_ = nullptr;
  QListWidget* progressList_ = nullptr;
  PreviewPane* preview_ = nullptr;
  bool running_ = false;
  bool closed_ = false;
  // Index the next progress line added from the run's thread will get; lines from there are
  // shown later, in order, so the index is counted where they are sent.
  std::atomic<int> nextQueuedLine_{0};
};
