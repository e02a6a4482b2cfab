// The desktop program's own Swedish texts that the code sets at run time: captions, start-up
// messages, the entropy counter and the file dialogs' titles and filters. Dialog and menu texts
// live in the resource script. Narrow literals here are Windows-1252 in the built program.
#pragma once

constexpr char TEXT_CAPTION[] = "Ferrolyn";

// Start-up failures; both end the program with exit code 1.
constexpr char TEXT_WORKING_DIRECTORY_FAILED[] = "Fel: Kunde inte välja arbetsmapp!";
constexpr char TEXT_RANDOM_INIT_FAILED[] = "Fel: Kunde inte initiera slumptalsgenerator!";

// Follows the decimal count in the entropy collection dialog: "17 / 1024".
constexpr char TEXT_ENTROPY_COUNTER_SUFFIX[] = " / 1024";

// File dialogs. A filter is pairs of description and pattern, each ending in NUL; the literal's
// own NUL ends the list with the empty pair.
constexpr char TEXT_OPEN_TITLE[] = "Välj fil...";
constexpr char TEXT_SAVE_ANY_TITLE[] = "Välj plats för filen...";
constexpr char TEXT_SAVE_KEY_FILE_TITLE[] = "Välj plats för nyckelfilen...";
constexpr char TEXT_SAVE_ENCRYPTED_TITLE[] = "Välj plats för den krypterade filen...";
constexpr char TEXT_FILTER_OPEN_ANY[] = "Alla filer (*.*)\0*.*\0Krypterade filer (*.encrypted)\0*.encrypted\0";
constexpr char TEXT_FILTER_SAVE_ANY[] = "Alla filer (*.*)\0*.*\0";
constexpr char TEXT_FILTER_KEY_FILE[] = "Nyckelfil (*.key)\0*.key\0";
constexpr char TEXT_FILTER_ENCRYPTED[] = "Krypterad fil (*.encrypted)\0*.encrypted\0";
constexpr char TEXT_EXTENSION_OPEN_ANY[] = "*";
constexpr char TEXT_EXTENSION_SAVE_ANY[] = "";
constexpr char TEXT_EXTENSION_KEY_FILE[] = "key";
constexpr char TEXT_EXTENSION_ENCRYPTED[] = "encrypted";
