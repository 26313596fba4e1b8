#pragma once
// The remembered files as the dialog shows them: the settings file and the recent lists read
// from the program directory (programPath), the notes and the rotation box, the path boxes.
struct DialogPort;

// Loads "param.txt", "reflist.txt" and "tergetlist.txt" from the program directory as
// loadSettingsFiles does; shows the notes (notesPath) in the progress list unless bit 0 of
// the switch word hides them; fills and shows the rotation box when bit 1 asks for it (the
// rotation in force selected; a rotation of 4 or more selects index -1, none); fills both
// path boxes.
void loadSettings(DialogPort* dialog) noexcept;
// Fills the reference and target path boxes from their recent lists.
void fillPathBoxes(DialogPort* dialog) noexcept;
