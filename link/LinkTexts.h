// The link's messages, exactly as users know them (the doubled blank in
// "ComPort  Error" and the missing blank before "!!" are kept on purpose).
#pragma once

inline constexpr const char* TEXT_COMPORT_CANNOT_OPEN = "Comport cannot open!!";
inline constexpr const char* TEXT_CONFIG_BAUDRATE_ERROR = "Config Baudrate Error!!";
inline constexpr const char* TEXT_COMPORT_ERROR = "ComPort  Error !!";
inline constexpr const char* TEXT_NOT_WRITE_CORRECTLY = "Not Write Correctly !!";
