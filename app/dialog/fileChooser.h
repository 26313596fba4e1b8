#pragma once
// The file choosers of the main dialog: the two ">>" buttons open a DXF file, "Save Terget.."
// asks where to write the result. The dialog builds a request and hands it to a FileChooser;
// the program uses QFileDialog, tests answer in place of a person.
#include <QString>
#include <QStringList>
#include <utility>

class QFileDialog;
class QWidget;
struct LineList;

enum class ChooserKind {
  openReference = 0,  // "Load Reference DXF-file", starts from the recent reference files
  openTarget = 1,     // "Load Terget DXF-file", starts from the recent target files
  saveTarget = 2,     // "Save Terget DXF-file", starts from the recent target files
  savePicture = 3,    // "Save picture", a PNG file, starts from the recent target files
};

// Everything a chooser shows.
struct ChooserRequest {
  ChooserKind kind = ChooserKind::openReference;
  QString title;
  QStringList nameFilters;  // the first one is selected
  QString startFolder;      // the folder the chooser opens in
  QString startName;        // the file name filled in; may be empty
  QString defaultSuffix;    // appended to a name typed without one
  bool save = false;        // save chooser: asks before overwriting; else only existing files
};

// The request of `kind`, starting from the first line of `recent` (the recent-file list of that
// kind; may be null). With no first line, or an empty one, it starts in `homeFolder` with an
// empty name.
ChooserRequest chooserRequest(ChooserKind kind, const LineList* recent, const QString& homeFolder);

// The starting folder and file name of `path`: everything before the last '/' (the root keeps
// its '/'), and the rest. "/data/model.dxf" gives ("/data", "model.dxf"), "/model.dxf" gives
// ("/", "model.dxf"), "model.dxf" gives ("", "model.dxf").
std::pair<QString, QString> splitStartPath(const QString& path);

// Shows a chooser to the person at the screen.
class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // The chosen full path, or a null QString when the chooser was cancelled.
  virtual QString choose(QWidget* owner, const ChooserRequest& request) = 0;
};

// The standard Qt file dialog.
class QtFileChooser : public FileChooser {
 public:
  QString choose(QWidget* owner, const ChooserRequest& request) override;
};

// Sets up `dialog` as `request` says: title, filters (first selected), folder, name, default
// suffix, open (existing files only) or save (asks before overwriting).
void configureFileDialog(QFileDialog& dialog, const ChooserRequest& request);
