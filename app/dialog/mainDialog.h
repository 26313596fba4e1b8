#pragma once
// The main dialog: two path boxes with their recent files and ">>" choosers, "Save Terget..",
// "exit", the rotation box the switch word can show, and the progress list. Every action is a
// button; the work is the core's. The core reaches the widgets through a DialogPort.
#include <QByteArray>
#include <QDialog>
#include <QElapsedTimer>
#include <QIcon>
#include <QString>
#include <QTimer>
#include <atomic>
#include <functional>
#include <map>
#include <optional>

#include "app/dialog/fileChooser.h"
#include "output/keptResult.h"
#include "textfiles/dialogPort.h"
#include "textfiles/platform.h"
#include "textfiles/runProgress.h"
#include "textfiles/settings.h"

class QCheckBox;
class QCloseEvent;
class QComboBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class PreviewPane;

// The program icon (resource 128) in all its drawn sizes.
QIcon programIcon();

// What a run's result depends on: both paths, the files' stamps, the rotation, the settings and
// the alignment choice. A later "Save Terget.." with equal inputs saves the kept result.
struct RunInputs {
  QByteArray referencePath;
  QByteArray targetPath;
  FileStamp referenceStamp;
  FileStamp targetStamp;
  int32_t rotation;
  MatchSettings settings;
};
RunInputs currentRunInputs(const QByteArray& referencePath, const QByteArray& targetPath);
bool sameRunInputs(const RunInputs& a, const RunInputs& b);

// Where the run is, written on the run's thread and read by the dialog's progress row.
struct RunWatch {
  std::atomic<const char*> stage{nullptr};  // a stage name (static text) or null
  std::atomic<int> part{0};
  std::atomic<int> parts{0};
  std::atomic<int> permille{0};  // share of the run done, 0 to 1000
  std::atomic<int> cancel{0};    // not 0: the user asked the run to stop
};

class MainDialog : public QDialog {
  Q_OBJECT

 public:
  // The matching run and the writer; the program passes runMatching and saveKeptResultDxf. The
  // writer gets the result kept from the last run (keepResultAndReleaseRun).
  using RunFunction =
      std::function<int(DialogPort* dialog, const char* referencePath, const char* targetPath)>;
  using SaveFunction = std::function<int(const char* path, const KeptResult& kept)>;

  // Builds the controls, gives the window its icon and loads the settings, recent-file lists
  // and notes (loadSettings). `chooser` must outlive the dialog.
  MainDialog(FileChooser& chooser, RunFunction run, SaveFunction save, QWidget* parent = nullptr);
  ~MainDialog() override;

  // The control with template id `id` (its object name is the id); null for none.
  QWidget* control(int id) const;
  // The dialog as the core sees it.
  DialogPort* port() { return &port_; }
  // Whether a matching run or a save is under way (the controls are disabled meanwhile).
  bool isRunning() const { return running_; }
  // Whether the last run's result is kept for a later save with the same inputs.
  bool keepsResult() const { return keptInputs_.has_value(); }
  // The last run's result as kept for a later save and the preview (empty when none).
  const KeptResult& keptResult() const { return kept_; }

 public slots:
  // ">>" beside a path box: a chosen file becomes the box's text; the recent list is untouched.
  void onBrowseReference();
  void onBrowseTarget();
  // "Save Terget..": records the paths, runs the matching, asks for the output and writes it.
  void onSaveTarget();
  // "exit", Escape and the close box: ends the dialog, then writes and releases the lists.
  // During a run, Escape and the close box ask the run to stop instead.
  void reject() override;
  // "Cancel" beside the progress bar: asks the run to stop between two stages or parts.
  void cancelRun();
  // "Save picture.." of the preview pane: asks where, then writes the preview picture of the
  // pane's view; a picture that could not be written is said so in the progress list.
  void onSavePicture();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildControls();
  void buildPreviewPane(const struct DialogUnits& units);
  void buildProgressRow(const struct DialogUnits& units);
  void showRunProgress();
  void saveResult(const QString& path);
  void browse(ChooserKind kind, QComboBox* box);
  QString chooseDxfFile(ChooserKind kind);
  QByteArray trimmedPath(const QComboBox* box) const;
  int runOffThisThread(const QByteArray& referencePath, const QByteArray& targetPath);
  int workOffThisThread(const std::function<int()>& work);
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
  QProgressBar* progressBar_ = nullptr;
  QLabel* stageLabel_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QTimer progressTimer_;
  QElapsedTimer runClock_;
  RunWatch watch_;
  RunProgress runProgress_{};
  std::optional<RunInputs> keptInputs_;
  KeptResult kept_{};     // written on the run's thread before the run ends, read on this one after
  QString memoryDetail_;  // the run's "out of memory ..." line, written on the run's thread
                          // before the run ends and read on this one after
  bool running_ = false;  // a run or a save is under way
  bool saving_ = false;   // ... a save, which is not cancelled
  bool closed_ = false;
  // Index the next progress line added from the run's thread will get; lines from there are
  // shown later, in order, so the index is counted where they are sent.
  std::atomic<int> nextQueuedLine_{0};
};
