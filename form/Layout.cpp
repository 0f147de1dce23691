#include "Layout.h"

namespace {

using K = ControlKind;
using C = FormControl;
constexpr TextAlign L = TextAlign::Left;

// Fonts: 8, 10 and 12 points are 11, 13 and 16 pixels.
constexpr ControlLayout kControls[] = {
    {C::ComPort, "ComPort", K::Label, 231, 213, 53, 16, "ComPort ", 13, -1, false, false, true, L, -1},
    {C::BaudRate, "BaudRate", K::Label, 332, 213, 67, 16, "Baud Rate :", 13, -1, false, false, true, L, -1},
    {C::DSP_PATH_Edit, "DSP_PATH_Edit", K::Edit, 8, 31, 457, 27, "DSP_PATH_Edit", 16, 0, true, false, true, L, -1},
    {C::CM_PATH_Edit, "CM_PATH_Edit", K::Edit, 8, 95, 457, 27, "CM_PATH_Edit", 16, 1, true, false, true, L, -1},
    {C::Motor_PATH_Edit, "Motor_PATH_Edit", K::Edit, 8, 159, 457, 27, "Motor_PATH_Edit", 16, 2, true, false, true, L,
     -1},
    {C::DownLoadAP, "DownLoadAP", K::Button, 427, 211, 129, 70, "DownLoad AP", 16, 3, false, false, true, L, -1},
    {C::DSP_CheckBox, "DSP_CheckBox", K::CheckBox, 8, 8, 177, 17, "Select DSP *.bin File", 16, 4, false, true, true, L,
     -1},
    {C::CM_CheckBox, "CM_CheckBox", K::CheckBox, 8, 72, 169, 17, "Select CM *.bin File", 16, 5, false, true, true, L,
     -1},
    {C::Motor_CheckBox, "Motor_CheckBox", K::CheckBox, 8, 136, 177, 17, "Select Motor *.bin File", 16, 6, false, true,
     true, L, -1},
    {C::SelectDSPFile, "SelectDSPFile", K::Button, 481, 31, 75, 27, "Browse", 0, 7, false, false, true, L, -1},
    {C::SelectCMFile, "SelectCMFile", K::Button, 479, 95, 75, 27, "Browse", 0, 8, false, false, true, L, -1},
    {C::SelectMotorFile, "SelectMotorFile", K::Button, 481, 159, 75, 27, "Browse", 0, 9, false, false, true, L, -1},
    {C::ComPort_ComboBox, "ComPort_ComboBox", K::ComboBox, 224, 235, 77, 24, "Com Port", 13, 10, false, false, true, L,
     -1},
    {C::BaudRate_ComboBox, "BaudRate_ComboBox", K::ComboBox, 324, 235, 85, 24, "", 13, 11, false, false, true, L, -1},
    {C::Processing_States_Panel, "Processing_States_Panel", K::Panel, 8, 212, 210, 70, "", 0, -1, false, false, true, L,
     -1},
    // Inside the panel; disabled, so it takes no focus and the user cannot type into it.
    {C::Processing_States, "Processing_States", K::Edit, 11, 20, 184, 27, "Processing_States", 16, -1, false, false,
     false, TextAlign::Centre, static_cast<int>(C::Processing_States_Panel)},
};
static_assert(std::size(kControls) == kFormControlCount);

constexpr const char* kBaudRates[] = {"110",   "600",   "1200",  "2400",   "4800",   "9600",  "14400",
                                      "19200", "38400", "57600", "115200", "230400", "460800"};

constexpr bool InTableOrder() {
  for (size_t i = 0; i < std::size(kControls); ++i) {
    if (static_cast<size_t>(kControls[i].Id) != i) return false;
  }
  return true;
}
static_assert(InTableOrder(), "LayoutOf indexes the table by FormControl");

const FormLayout kLayout{
    "Lumo_Q31NTX_DownloadAP",
    "Lumo Download Tool Ver3.00",
    573,
    312,
    "Tahoma",
    11,
    8,
    kControls,
    kBaudRates,
    5,
};

}  // namespace

const FormLayout& WindowLayout() { return kLayout; }

const ControlLayout& LayoutOf(FormControl control) { return kControls[static_cast<size_t>(control)]; }
