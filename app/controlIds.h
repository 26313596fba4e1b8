#pragma once
// Ids of the main dialog's controls; the dialog keeps each as its widget's object name.
constexpr int kReferenceBoxId = 1000;      // reference path box (combo box with edit field)
constexpr int kTargetBoxId = 1001;         // target path box
constexpr int kSaveTargetButtonId = 1002;  // "Save Terget..", the default button
constexpr int kProgressListId = 1003;      // progress list at the foot of the dialog
constexpr int kBrowseReferenceId = 1004;   // ">>" beside the reference path box
constexpr int kBrowseTargetId = 1005;      // ">>" beside the target path box
constexpr int kRotationBoxId = 1009;       // rotation box, hidden unless the switch word shows it
constexpr int kRotationGroupId = 1010;     // "Rotation" group box around it
constexpr int kAlignBoxId = 1011;          // "Align turned parts" check box
constexpr int kKeepTargetBoxId = 1012;     // "Keep the rest of the target file" check box
constexpr int kExitButtonId = 2;           // "exit" (cancel)
constexpr int kIconId = 3;                 // the program icon (resource 128)
