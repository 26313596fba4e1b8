#pragma once
// Where the dialog's remembered files live. "param.txt", "reflist.txt", "tergetlist.txt" and
// "perr.txt" sit beside the program when its folder can be written (a portable copy, the build
// tree); an installed program's folder usually cannot, and then they live in the user's
// configuration folder. The notes file "readme.txt" is read beside the program when it is
// there, else from where the install rules put it.
#include <QString>
#include <QStringList>

struct FileLocations {
  QString dataFolder;  // folder of the files the program writes (programPath's directory)
  QString notesPath;   // the notes file; empty: "readme.txt" in dataFolder
};

// Decides the locations. `programFolder` is the program's own folder, `configFolder` the folder
// the files go to when the program's folder cannot be written, `notesCandidates` the places the
// notes may be, in order of preference; `exists` says whether a file is present.
FileLocations chooseFileLocations(const QString& programFolder, bool programFolderWritable,
                                  const QString& configFolder, const QStringList& notesCandidates,
                                  bool (*exists)(const QString& path));

// The places the notes may be for a program in `programFolder`: beside it, in the installed
// data folder relative to it, and at the installed data folder's absolute path.
QStringList notesCandidatesFor(const QString& programFolder);

// Finds the program's folder, lets the core decide where the data files live
// (useConfigFolderWhenProgramFolderIsReadOnly, creating the configuration folder when it is
// used), chooses the notes and tells the core their path. Returns what was decided.
FileLocations useProgramFileLocations();
