#include "app/dialogBoxes.h"

#include <cstdint>

#include "textfiles/dialogPort.h"
#include "textfiles/lineList.h"

void fillComboBox(const LineList* list, DialogPort* dialog, int controlId) noexcept {
  if (!dialog) return;
  if (dialog->resetCombo) dialog->resetCombo(dialog, controlId);
  if (!list) return;
  const char* first = nullptr;
  for (int32_t i = 0; i < list->count; ++i) {
    const char* line = list->items[i];
    if (!line || line[0] == '\0') continue;
    if (dialog->addComboItem) dialog->addComboItem(dialog, controlId, line);
    if (!first) first = line;
  }
  if (first && dialog->setControlText) dialog->setControlText(dialog, controlId, first);
}

int fillListBox(const LineList* list, DialogPort* dialog) noexcept {
  if (dialog && dialog->clearList) dialog->clearList(dialog);
  if (!list) return 0;
  if (dialog && dialog->addListLine) {
    for (int32_t i = 0; i < list->count; ++i) {
      dialog->addListLine(dialog, list->items[i] ? list->items[i] : "");
    }
  }
  return list->count;
}
