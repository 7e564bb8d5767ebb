#include "net/connection_string.h"

#include <cstring>

#include "base/heap.h"
#include "base/list.h"
#include "base/str.h"

namespace volsten {
namespace {

char readChar(PairScanner* s) {
  char ch = s->position < s->size ? s->text[s->position] : '\0';
  ++s->position;
  return ch;
}

bool isSeparator(char ch) { return ch == ';' || ch == '='; }

// A word runs to the first ';' or '=' outside braces. A '{' outside braces
// starts the word afresh after it: text before it is dropped (ab{c} is "c",
// blanks before the brace included). Its matching '}' ends the word's text:
// the rest up to the separator is dropped ({a}b is "a"), unless another '{'
// starts the word afresh. Braces nested inside stay part of the word, and a
// '}' with no '{' open is an ordinary character (a}b is "a}b"). The word is
// therefore always one run of the text, never beyond its end; an unclosed
// brace runs to the end of the text.
void readWord(PairScanner* s, char ch) {
  int32_t depth = 0;
  bool closed = false;  // the outer pair has ended; nothing more is counted
  while (ch != '\0' && (!isSeparator(ch) || depth > 0)) {
    if (ch == '{' && depth == 0) {
      s->tokenStart = s->position;
      s->tokenLength = 0;
      closed = false;
      depth = 1;
    } else if (ch == '}' && depth == 1) {
      depth = 0;
      closed = true;
    } else {
      if (ch == '{') ++depth;
      if (ch == '}' && depth > 1) --depth;
      if (!closed) ++s->tokenLength;
    }
    ch = readChar(s);
  }
  // The character that ended the word is read again as the next token.
  --s->position;
  s->tokenKind = TOKEN_WORD;
}

void readToken(PairScanner* s) {
  s->tokenStart = s->position;
  s->tokenLength = 0;
  char ch = readChar(s);
  if (ch == '\0') {
    s->tokenKind = TOKEN_END;
  } else if (isSeparator(ch)) {
    s->tokenKind = TOKEN_SEPARATOR;
    s->tokenLength = 1;
  } else {
    readWord(s, ch);
  }
}

char separatorOf(const PairScanner* s) { return s->text[s->tokenStart]; }

char* copyToken(DiagContext* diag, TracedHeap* heap, const PairScanner* s) {
  return strDuplicate(diag, heap, s->text + s->tokenStart, s->tokenLength);
}

const char* orEmpty(const char* text) { return text != nullptr ? text : ""; }

int32_t countPairs(const KeyedList* list) {
  int32_t n = 0;
  for (const ListNode* node = list != nullptr ? list->first : nullptr; node != nullptr;
       node = node->next) {
    ++n;
  }
  return n;
}

// A NUL inside the text ends it, and blanks before that NUL trail the text
// like any others: a text reads the same whether its length is given or it
// ends at its NUL. (Cut only at the length, " \0x" would yield a pair
// without key where " " yields none.)
int32_t effectiveLength(const char* text, int32_t length) {
  int32_t n = strLength(text, length);
  const void* nul = n > 0 ? std::memchr(text, '\0', static_cast<size_t>(n)) : nullptr;
  if (nul != nullptr) n = static_cast<int32_t>(static_cast<const char*>(nul) - text);
  return strTrimmedLength(text, n);
}

const ConnectionPair* findKey(const KeyedList* list, const char* key) {
  for (const ListNode* node = list->first; node != nullptr; node = node->next) {
    auto* pair = static_cast<const ConnectionPair*>(node->item);
    if (std::strcmp(orEmpty(pair->key), key) == 0) return pair;
  }
  return nullptr;
}

}  // namespace

void parseConnectionString(DiagContext* diag, TracedHeap* heap, KeyedList* list, const char* text,
                           int32_t length) {
  auto* s = static_cast<PairScanner*>(diagAlloc(diag, heap, sizeof(PairScanner)));
  if (s == nullptr) return;
  *s = PairScanner{text, effectiveLength(text, length), 0, TOKEN_END, 0, 0};
  readToken(s);
  while (s->tokenKind != TOKEN_END) {
    if (s->tokenKind == TOKEN_SEPARATOR && separatorOf(s) == ';') {
      readToken(s);
    } else if (s->tokenKind == TOKEN_SEPARATOR) {
      // A value without a key: skipped up to the next separator, which the
      // loop then handles.
      do {
        readToken(s);
      } while (s->tokenKind == TOKEN_WORD);
    } else {
      auto* pair = static_cast<ConnectionPair*>(diagAlloc(diag, heap, sizeof(ConnectionPair)));
      if (pair == nullptr) break;
      *pair = ConnectionPair{copyToken(diag, heap, s), NTS, nullptr, NTS};
      diagListAppend(diag, list, pair);
      readToken(s);
      if (s->tokenKind == TOKEN_SEPARATOR && separatorOf(s) == '=') {
        readToken(s);
        if (s->tokenKind == TOKEN_WORD) {
          pair->value = copyToken(diag, heap, s);
          readToken(s);
        }
      }
    }
  }
  diagFreeBlock(s);
}

// The pairs are walked through their nodes rather than the lists' cursors,
// so that a list compared with itself, or while a reader holds its cursor,
// is left as it was.
bool sameConnectionPairs(const KeyedList* a, const KeyedList* b) {
  if (countPairs(a) != countPairs(b)) return false;
  for (const ListNode* node = a != nullptr ? a->first : nullptr; node != nullptr;
       node = node->next) {
    auto* p = static_cast<const ConnectionPair*>(node->item);
    const ConnectionPair* q = findKey(b, orEmpty(p->key));
    if (q == nullptr) return false;
    if (strCompare(orEmpty(p->value), NTS, orEmpty(q->value), NTS) != 0) return false;
  }
  return true;
}

}  // namespace volsten
