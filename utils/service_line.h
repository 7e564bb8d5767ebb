// One line of the services file: whether it defines a service, the columns
// its fields stand at, and the building of a new entry line.
#pragma once

#include <cstdint>

namespace volsten {

// 1 when line is an entry for name and protocol (both already lower-case):
// its first token, lower-cased, equals name and the token after its first
// '/' equals protocol. Only the first 127 characters of a token count.
int lineDefinesService(const char* name, const char* protocol, const char* line);

// 1 when an entry with these fields reads back as exactly one entry for
// exactly this service: no field holds a carriage return or a line feed
// (which would end the entry and start another), and the name and the
// protocol hold no white space and no '#' (which would end them early).
// Null fields count as empty.
int entryCanBeWritten(const char* name, const char* protocol, const char* comment);

// How often each distinct column was seen, in the order first seen.
struct ColumnStats {
  int32_t count;  // columns held, 1 to 10
  int32_t positions[10];
  int32_t frequencies[10];
};

// One entry: the default column, at frequency 0.
void resetColumnStats(ColumnStats* stats, int32_t defaultColumn);
// Counts the column; a column after the tenth distinct one is not recorded.
void recordColumn(ColumnStats* stats, int32_t column);
// The first column with the highest frequency; a default never seen loses
// to any column seen once.
int32_t mostFrequentColumn(const ColumnStats* stats);

// The columns an entry line's fields stand at.
struct EntryColumns {
  ColumnStats entry;    // first non-blank character of an entry line
  ColumnStats slash;    // first '/' of the line
  ColumnStats comment;  // first '#' after that '/'
};

void resetEntryColumns(EntryColumns* columns);
// Records the columns of one line read from the file; comment and blank
// lines carry none.
void learnColumns(EntryColumns* columns, const char* line);

// Fills the NUL-terminated line (in a buffer of lineSize bytes) with spaces
// up to column; a line already past the column gets one space, a line of
// exactly that length none. Returns 0, leaving the line as it was, when the
// result would not fit.
int padToColumn(char* line, int32_t lineSize, int32_t column);

struct EntryFields {
  const char* name;
  int32_t port;
  const char* protocol;
  const char* comment;  // written after '#' when not empty
  const char* newline;  // the line end to write
};

// Builds the new entry line at the learned columns. When the line would not
// fit in lineSize bytes it is built with one blank between the fields
// instead; when even that does not fit, the line is left empty and 0 is
// returned. Never a cut line.
int buildEntryLine(char* line, int32_t lineSize, const EntryColumns& columns,
                   const EntryFields& fields);

}  // namespace volsten
