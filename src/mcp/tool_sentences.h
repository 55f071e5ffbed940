#pragma once

#include <string>
#include <vector>

#include "base/json.h"
#include "mcp/phone_access.h"
#include "mcp/screen_text.h"

namespace quintalis::mcp {

// The sentences the phone tools answer with: what a model reads, in one place.

std::string sizeText(const ImageSize& size);  // "277×600"
std::string pointText(double x, double y);    // "(70, 180)"

// "- Simulated iPhone (phone "…"): seen over USB, …", one line per phone after a newline each.
std::string described(const std::vector<Phone>& phones);
std::string phonesSentence(const PhoneList& list);
std::string noPhoneSentence(const PhoneList& list);
std::string pausedSentence();

// The text part of a look before its list of text.
std::string lookSentence(const Phone& phone, const Picture& picture);

// Why a tap by text did not tap: the query is on the screen nowhere or more
// than once. Positions are in the space `spaceWords` names.
std::string missedText(const std::string& query, const std::vector<ScreenText>& lines,
                       const std::vector<ScreenText>& matches, const std::string& spaceWords);

// What a settle wait's reply says, after an action or on its own.
std::string settleSentence(const JSON& reply, bool afterAction);
// How much one call may type when its client asked for no progress:
// "about 40 s of typing, some 660 letters or 330 capitals and symbols".
std::string silentTypingLimit();
// Why a type call without progress was refused before typing anything.
std::string typingTooLongWithoutProgress(double seconds);
// After a tap or swipe that changed nothing at all, not even the pointer.
std::string tapChangedNothing();
// After key with a character that needs Shift and no "shift" modifier; empty otherwise.
std::string shiftNote(const std::string& key, const std::vector<std::string>& modifiers);

}  // namespace quintalis::mcp
