// The window's layout, for every view to build its controls from: each
// control's name, kind, rectangle (pixels at 96 pixels per inch, relative to
// its parent), text, font height, initial state and tab order; the caption,
// client size and font of the window; the baud list.
#pragma once

#include <cstddef>
#include <span>

// The controls, in the order the window creates them.
enum class FormControl : int {
  ComPort,
  BaudRate,
  DSP_PATH_Edit,
  CM_PATH_Edit,
  Motor_PATH_Edit,
  DownLoadAP,
  DSP_CheckBox,
  CM_CheckBox,
  Motor_CheckBox,
  SelectDSPFile,
  SelectCMFile,
  SelectMotorFile,
  ComPort_ComboBox,
  BaudRate_ComboBox,
  Processing_States_Panel,
  Processing_States,
};
inline constexpr size_t kFormControlCount = 16;

enum class ControlKind {
  Label,
  Edit,      // one line of text
  Button,    // a push button; never the default button
  CheckBox,
  ComboBox,  // editable drop-down: typed text completes from the items, typing adds none
  Panel,     // a raised frame, one pixel wide, that holds other controls
};

enum class TextAlign { Left, Centre };

struct ControlLayout {
  FormControl Id;
  const char* Name;
  ControlKind Kind;
  int Left, Top, Width, Height;
  const char* Text;  // a combo box's: its edit text before any item is chosen; empty for none
  int FontHeight;    // pixels; 0: the window's font
  int TabOrder;      // 0 first; -1: no tab stop
  bool ReadOnly;
  bool Checked;
  bool Enabled;
  TextAlign Align;
  int Parent;  // index of the parent control in the table; -1: the window
};

struct FormLayout {
  const char* Name;     // the form's class name without its "T"
  const char* Caption;
  int ClientWidth, ClientHeight;  // fixed: the window cannot be resized
  const char* FontFamily;         // every control's, at FontHeight or the window's
  int FontHeight;                 // pixels
  int ComboMaxVisibleItems;
  std::span<const ControlLayout> Controls;  // by FormControl
  std::span<const char* const> BaudRates;   // the baud box's items
  int BaudRateIndex;                        // the item chosen at start
};

const FormLayout& WindowLayout();
const ControlLayout& LayoutOf(FormControl control);
