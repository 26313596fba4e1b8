#pragma once
// Filling the dialog's boxes from line lists.

struct DialogPort;
struct LineList;

// Empties combo box `controlId`, adds every non-empty line, then sets its edit text to the
// first line added.
void fillComboBox(const LineList* list, DialogPort* dialog, int controlId) noexcept;
// Empties the progress list and adds every line, empty ones included; returns the line count.
int fillListBox(const LineList* list, DialogPort* dialog) noexcept;
