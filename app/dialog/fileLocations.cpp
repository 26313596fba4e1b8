#include "app/dialog/fileLocations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/configFolder.h"
#include "app/notesPath.h"
#include "app/programPath.h"

#ifndef MORVANE_NOTES_FROM_PROGRAM
#define MORVANE_NOTES_FROM_PROGRAM "../share/morvane/readme.txt"
#endif
#ifndef MORVANE_NOTES_INSTALLED
#define MORVANE_NOTES_INSTALLED "/usr/local/share/morvane/readme.txt"
#endif

namespace {

bool fileExists(const QString& path) {
  return QFileInfo(path).isFile();
}

}  // namespace

FileLocations chooseFileLocations(const QString& programFolder, bool programFolderWritable,
                                  const QString& configFolder, const QStringList& notesCandidates,
                                  bool (*exists)(const QString& path)) {
  FileLocations locations;
  locations.dataFolder = programFolderWritable ? programFolder : configFolder;
  for (const QString& candidate : notesCandidates) {
    if (exists(candidate)) {
      locations.notesPath = candidate;
      break;
    }
  }
  // The notes beside the data files need no override.
  if (QDir::cleanPath(locations.notesPath) ==
      QDir::cleanPath(QDir(locations.dataFolder).filePath(QStringLiteral("readme.txt"))))
    locations.notesPath.clear();
  return locations;
}

QStringList notesCandidatesFor(const QString& programFolder) {
  QDir program(programFolder);
  return {QDir::cleanPath(program.filePath(QStringLiteral("readme.txt"))),
          QDir::cleanPath(program.filePath(QStringLiteral(MORVANE_NOTES_FROM_PROGRAM))),
          QStringLiteral(MORVANE_NOTES_INSTALLED)};
}

FileLocations useProgramFileLocations() {
  setProgramDirectory();
  QString programFolder = QFile::decodeName(programPath(nullptr));
  bool usesConfigFolder =
      useConfigFolderWhenProgramFolderIsReadOnly(ConfigFolderUse::createIfMissing);
  FileLocations locations =
      chooseFileLocations(programFolder, !usesConfigFolder, QFile::decodeName(programPath(nullptr)),
                          notesCandidatesFor(programFolder), fileExists);
  setNotesPath(QFile::encodeName(locations.notesPath).constData());
  return locations;
}
