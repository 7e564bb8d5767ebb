// Message texts of the connection layer's handle tables, Windows-1252.
#pragma once

namespace volsten {

inline constexpr char kNetInvalidHandle[] = "Ung\xfcltiges Handle";
inline constexpr char kNetWrongHandleType[] = "Ung\xfcltiger Handle Typ";
inline constexpr char kNetCallOrder[] = "Ung\xfcltige Funktionsreihenfolge";
inline constexpr char kNetNoFreeHandles[] = "Keine freien Handles mehr verf\xfcgbar";
inline constexpr char kNetSemaphoreError[] = "Semaphoren Fehler: ";
inline constexpr char kNetSharedMemoryError[] = "Shared Memory Fehler: ";
inline constexpr char kNetNotEnoughMemory[] = "Nicht genug Speicher vorhanden";

}  // namespace volsten
