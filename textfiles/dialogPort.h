#pragma once
// The dialog as the core sees it: a record of function pointers that a front end fills in.
// The dialog implements them with its widgets, the batch tool with standard output, tests
// with vectors. A null pointer means the dialog has no such control; every call through a
// null DialogPort or a null member does nothing. It sits at the bottom of the layers so that
// every layer can write progress lines; filling the boxes from files is app's work.
struct DialogPort {
  void* context;  // the front end's own object
  // Progress list (control 1003): add a line at the end; returns the new line's index.
  int (*addListLine)(DialogPort* self, const char* line);
  // Progress list: remove every line.
  void (*clearList)(DialogPort* self);
  // Combo box `controlId`: remove every entry.
  void (*resetCombo)(DialogPort* self, int controlId);
  // Combo box `controlId`: add an entry (sorted boxes sort it); returns its index.
  int (*addComboItem)(DialogPort* self, int controlId, const char* text);
  // Control `controlId`: set its text (a combo box's edit field).
  void (*setControlText)(DialogPort* self, int controlId, const char* text);
  // Combo box `controlId`: select entry `index`; an index without entry selects nothing.
  void (*selectComboItem)(DialogPort* self, int controlId, int index);
  // Control `controlId`: make it visible.
  void (*showControl)(DialogPort* self, int controlId);
};

// Adds one printf-style line to the dialog's progress list; a null `format` empties the list.
// The format is cut at 255 characters and the line at 511. Returns the list's answer (the new
// line's index), or 0 when the dialog has no progress list.
int addProgressLine(DialogPort* dialog, const char* format, ...) noexcept
    __attribute__((format(printf, 2, 3)));
