// Message texts of the TCP transport, Windows-1252.
#pragma once

namespace volsten {

inline constexpr char kTcpConnectionError[] = "TCP Verbindungsfehler ";
inline constexpr char kTcpTagConnect[] = "(connect): ";
inline constexpr char kTcpTagSocket[] = "(socket): ";
inline constexpr char kTcpTagReceive[] = "(recv): ";
inline constexpr char kTcpTagSend[] = "(send): ";
inline constexpr char kTcpTagBind[] = "(bind): ";
inline constexpr char kTcpTagListen[] = "(listen): ";
inline constexpr char kTcpTimeout[] = "Timeout beim Warten auf Daten erreicht";
inline constexpr char kTcpListenerNotStarted[] =
    "Der TCP Listen Prozess konnte nicht gestartet werden: ";
inline constexpr char kTcpHostUndefined[] = "Host nicht definiert: ";
inline constexpr char kTcpPortUndefined[] = "Port nicht definiert: ";

}  // namespace volsten
