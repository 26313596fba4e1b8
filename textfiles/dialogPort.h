#pragma once
// The dialog as the core sees it: a record of function pointers that a front end fills in.
// The dialog implements them with its widgets, the batch tool with standard output, tests
// with vectors. A null pointer means the dialog has no such control; every call through a
// null DialogPort or a null member does nothing. It sits at the bottom of the layers so that
// every layer can write progress lines; filling the boxes from files is app's work.
struct RunProgress;

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
  // A line that explains the line before it or warns (a file's name and the system's reason,
  // what ran out of memory): the dialog adds it to the progress list, the batch tool prints it
  // on standard error. Null: such lines are dropped.
  int (*addDetailLine)(DialogPort* self, const char* line);
  // Where a run started from this front end reports its stages and learns that it should stop
  // (textfiles/runProgress.h); null for none. The front end's run function passes it on.
  RunProgress* runProgress;
};

// Adds one printf-style line to the dialog's progress list; a null `format` empties the list.
// The format is cut at 255 characters and the line at 511. Returns the list's answer (the new
// line's index), or 0 when the dialog has no progress list.
int addProgressLine(DialogPort* dialog, const char* format, ...) noexcept
    __attribute__((format(printf, 2, 3)));

// Adds one printf-style detail line (see DialogPort::addDetailLine), cut as addProgressLine
// cuts. Returns the front end's answer, or 0 when it takes no detail lines.
int addDetailLine(DialogPort* dialog, const char* format, ...) noexcept
    __attribute__((format(printf, 2, 3)));
