#include "app/dialog/fileChooser.h"

#include <QFile>
#include <QFileDialog>

#include "textfiles/lineList.h"

namespace {

struct KindText {
  ChooserKind kind;
  const char* title;
  bool save;
};

constexpr KindText kKinds[] = {
    {ChooserKind::openReference, "Load Reference DXF-file", false},
    {ChooserKind::openTarget, "Load Terget DXF-file", false},
    {ChooserKind::saveTarget, "Save Terget DXF-file", true},
    {ChooserKind::savePicture, "Save picture", true},
};

constexpr const char* kDxfFilter = "DXF files(*.dxf)";
constexpr const char* kAllFilesFilter = "All files (*.*)";
constexpr const char* kDefaultSuffix = "dxf";  // the first filter's pattern without its "*."
constexpr const char* kPngFilter = "PNG pictures (*.png)";
constexpr const char* kPngSuffix = "png";

}  // namespace

std::pair<QString, QString> splitStartPath(const QString& path) {
  qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  if (slash < 0) return {QString(), path};
  QString folder = path.left(slash > 0 ? slash : 1);  // "/model.dxf": the root keeps its '/'
  return {folder, path.mid(slash + 1)};
}

ChooserRequest chooserRequest(ChooserKind kind, const LineList* recent, const QString& homeFolder) {
  ChooserRequest request;
  request.kind = kind;
  for (const KindText& k : kKinds) {
    if (k.kind == kind) {
      request.title = QString::fromLatin1(k.title);
      request.save = k.save;
    }
  }
  bool picture = kind == ChooserKind::savePicture;
  request.nameFilters = {QString::fromLatin1(picture ? kPngFilter : kDxfFilter),
                         QString::fromLatin1(kAllFilesFilter)};
  request.defaultSuffix = QString::fromLatin1(picture ? kPngSuffix : kDefaultSuffix);
  const char* first = (recent && recent->count > 0 && recent->items) ? recent->items[0] : nullptr;
  if (first && first[0] != '\0') {
    auto [folder, name] = splitStartPath(QFile::decodeName(first));
    request.startFolder = folder;
    request.startName = picture ? QString() : name;
  } else {
    request.startFolder = homeFolder;
  }
  return request;
}

void configureFileDialog(QFileDialog& dialog, const ChooserRequest& request) {
  dialog.setWindowTitle(request.title);
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.save);
  dialog.setNameFilters(request.nameFilters);
  if (!request.nameFilters.isEmpty()) dialog.selectNameFilter(request.nameFilters.first());
  dialog.setDefaultSuffix(request.defaultSuffix);
  if (!request.startFolder.isEmpty()) dialog.setDirectory(request.startFolder);
  if (!request.startName.isEmpty()) dialog.selectFile(request.startName);
}

QString QtFileChooser::choose(QWidget* owner, const ChooserRequest& request) {
  QFileDialog dialog(owner);
  configureFileDialog(dialog, request);
  if (dialog.exec() != QDialog::Accepted) return QString();
  QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty() || chosen.first().isEmpty()) return QString();
  return chosen.first();
}
