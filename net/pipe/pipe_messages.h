// Message texts of the local pipe transport, Windows-1252.
#pragma once

namespace volsten {

inline constexpr char kPipeConnectionError[] = "Lokaler Verbindungsfehler ";
inline constexpr char kPipeTagConnect[] = "(connect): ";
inline constexpr char kPipeTagReceive[] = "(recv): ";
inline constexpr char kPipeTagSend[] = "(send): ";
inline constexpr char kPipeTagCreate[] = "(CreateNamedPipe): ";
inline constexpr char kPipeNoPath[] = "Kein Pfad angegeben";
inline constexpr char kPipeListenerNotStarted[] =
    "Der lokale Listen Prozess konnte nicht gestartet werden: ";

}  // namespace volsten
