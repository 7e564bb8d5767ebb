// Message texts of the command transport, Windows-1252.
#pragma once

namespace volsten {

inline constexpr char kCommandConnectionError[] = "Verbindungsfehler ";
inline constexpr char kCommandTagConnect[] = "(connect): ";
inline constexpr char kCommandTagReceive[] = "(receive): ";
inline constexpr char kCommandTagSend[] = "(send): ";

}  // namespace volsten
