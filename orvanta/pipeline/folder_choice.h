#pragma once

#include <string>

namespace orvanta::pipeline {

// The Korean name of the inbox ("받은 편지함"), CP949, 11 bytes.
const std::string& KoreanInboxName();

// The store form of a folder text: a leading Korean inbox name (also after one leading "/")
// becomes "INBOX"; any other text comes back unchanged.
std::string MapInboxName(const std::string& name);
// The display form, for showing store folder names: a leading "INBOX" (also after one leading
// "/") becomes the Korean name.
std::string ShowInboxName(const std::string& name);

// The store folder a message judged for `folder` goes to: the inbox name mapped, encoded as
// the store names folders, and "INBOX" when the store has no such folder.
std::string ChooseStoreFolder(const std::string& storeDirectory, const std::string& folder);

// The folder the learning filter's spam goes to, "스팸 편지함" (CP949, as a rule names folders).
const std::string& LearnedSpamFolder();

// Makes sure a store folder (named as a rule names it) exists. False (and logged) when it
// could not be created.
bool EnsureStoreFolder(const std::string& storeDirectory, const std::string& folder);

// Makes sure the store folder "INBOX" exists. False (and logged) when it could not be created.
bool EnsureInbox(const std::string& storeDirectory);

}  // namespace orvanta::pipeline
