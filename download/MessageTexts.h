// Every message text the tool shows, exactly as units and users know them.
// The doubled blanks ("FW File  Error", "ComPort  Error"), the missing blank
// before some "!!" and the misspellings ("Baord", "Stellaries") are the
// tool's own and are kept on purpose.
#pragma once

#include "LinkTexts.h"

// ---- The job ----
inline constexpr const char* TEXT_NO_FILE_SELECTED = "No File Selected !!";
inline constexpr const char* TEXT_OPEN_DSP_ERROR = "Open DSP FW File  Error !!";
inline constexpr const char* TEXT_OPEN_CAMERA_ERROR = "Open Camera FW File  Error !!";
inline constexpr const char* TEXT_OPEN_CONTROL_ERROR = "Open Control FW File  Error !!";
inline constexpr const char* TEXT_DSP_SIZE_ERROR = "DSP File Size Error !!";
inline constexpr const char* TEXT_CAMERA_SIZE_ERROR = "Camera File Size Error !!";
inline constexpr const char* TEXT_CONTROL_SIZE_ERROR = "Control Baord File Size Error !!";
inline constexpr const char* TEXT_DOWNLOAD_ERROR = "Download Error !!";
inline constexpr const char* TEXT_CAMERA_LOADER_LEFT =
    "Camera board loader may still be active from a job that did not finish. Load the Camera board (CM) first !!";
inline constexpr const char* TEXT_CONTROL_LOADER_LEFT =
    "Control board loader may still be active from a job that did not finish. Load the Control board (Motor) "
    "alone first !!";
inline constexpr const char* TEXT_LOADER_NOT_RESTARTED =
    "A board's loader was already listening and did not restart, so no image was loaded. Switch the unit off and "
    "on, then load again !!";
inline constexpr const char* TEXT_UNIT_NOT_ANSWERING =
    "Neither the board's loader nor the camera answers. Switch the unit off and on, then load again !!";
inline constexpr const char* TEXT_CAMERA_RESTART_UNCONFIRMED =
    "Camera board was loaded, but it did not confirm its restart. Switch the unit off and on before using it !!";
inline constexpr const char* TEXT_CONTROL_RESTART_UNCONFIRMED =
    "Control board was loaded, but it did not confirm its restart. Switch the unit off and on before using it !!";
inline constexpr const char* TEXT_CAMERA_NOT_RESTARTED =
    "Camera board did not restart, so the Control board was not loaded. Load the Camera board (CM) again first !!";

// ---- DSP download ----
inline constexpr const char* TEXT_NOT_DSP_FILE = "This is not DSP File !!";
inline constexpr const char* TEXT_COMMUNICATION_ERROR = "It's communication Error !!";
inline constexpr const char* TEXT_VERSION_0_ERROR = "Write Version is not correct!!";
inline constexpr const char* TEXT_VERSION_1_ERROR = "Write Version is not correct !!";

// ---- Boot-loader download ----
inline constexpr const char* TEXT_LOADER_CONNECTION_ERROR = "Stellaries Connection Error !!";
inline constexpr const char* TEXT_ERASE_ERROR = "Erase Flash Error !!";
inline constexpr const char* TEXT_WRITE_DATA_ERROR = "Write Data Error !!";

// ---- The window ----
inline constexpr const char* TEXT_READY = "Ready";
inline constexpr const char* TEXT_DONE = "100 %";
