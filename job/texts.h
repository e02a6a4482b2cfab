// The one table of texts shown to a person, shared by the desktop program and the command-line
// tool: the caption, the job results' and key material's messages, questions, status and counter
// texts, the file dialogs' titles and filters, and the texts the dialogs change. Dialog and menu
// texts live in the resource script. Narrow literals here are Windows-1252 in the Windows build
// and UTF-8 in the native one.
#pragma once

constexpr char TEXT_CAPTION[] = "Ferrolyn";

// The job results, as the pipelines report them.
constexpr char TEXT_RESULT_READ_ERROR[] = "Fel vid läsning av källfilen.";
constexpr char TEXT_RESULT_WRITE_ERROR[] = "Fel vid skrivning till målfilen.";
constexpr char TEXT_RESULT_CRYPTO_ERROR[] =
    "Krypteringsfel, kontrollera val av krypteringsmetod och formatet på filen.";
constexpr char TEXT_RESULT_WRONG_KEY[] = "Felaktig nyckelfil, nyckelkod eller lösenfras för den här filen.";

// Key material: reading and writing key files, and drawing from the generator.
constexpr char TEXT_KEY_FILE_UNREADABLE[] = "Kunde inte läsa filen.";
constexpr char TEXT_KEY_FILE_BAD_FORMAT[] = "Felaktigt format på nyckelfilen.";
constexpr char TEXT_KEY_FILE_BAD_VERSION[] = "Felaktigt version på nyckelfilen.";
constexpr char TEXT_KEY_FILE_NOT_WRITTEN[] = "Kunde inte skriva nyckel till fil!";
constexpr char TEXT_GENERATOR_NOT_READY[] = "Fel: Slumptalsgeneratorn är inte initierad!";
constexpr char TEXT_GENERATOR_FAILED[] = "Fel vid generering av slumptal!";

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

// Main window.
constexpr char TEXT_NO_SOURCE[] = "Du måste ange en källfil!";
constexpr char TEXT_ENCRYPT_AGAIN[] = "Vill du kryptera filen ytterligare en gång?";
constexpr char TEXT_SAME_FILE[] = "Fel: Källa och mål kan inte vara samma fil!";
constexpr char TEXT_ENCRYPTED_EXTENSION[] = ".encrypted";
constexpr char TEXT_KEY_EXTENSION[] = ".key";

// Key input, in the order the checks run.
constexpr char TEXT_NO_PASSPHRASE[] = "Du måste ange en lösenfras.";
constexpr char TEXT_NO_PASSPHRASE_REPEAT[] =
    "Du måste repetera lösenfrasen två gånger för att undvika att du skriver fel.";
constexpr char TEXT_PASSPHRASES_DIFFER[] = "Lösenfraserna stämmer ej överens.";
constexpr char TEXT_PASSPHRASE_UNREPRESENTABLE[] = "Lösenfrasen innehåller tecken som inte kan användas.";
constexpr char TEXT_PASSPHRASE_TOO_LONG[] = "Lösenfrasen är för lång.";
constexpr char TEXT_SHORT_PASSPHRASE[] =
    "VARNING! Korta lösenfraser bör ej användas eftersom krypteringen inte blir tillräckligt säker. "
    "Vill du fortsätta ändå?";
constexpr char TEXT_NO_KEY_FILE[] = "Du måste ange en nyckelfil.";
constexpr char TEXT_NO_KEY_CODE[] = "Du måste ange en nyckelkod.";
constexpr char TEXT_BAD_KEY_CODE[] = "Nyckelkoden har ett felaktigt format.";

// Key file dialog: the suggested file name is this prefix and the identifier in hexadecimal.
constexpr char TEXT_KEY_FILE_NAME_PREFIX[] = "key_";

// Progress dialog status texts.
constexpr char TEXT_STATUS_ENCRYPTING[] = "Krypterar...";
constexpr char TEXT_STATUS_COMPRESSING[] = "Komprimerar och krypterar...";
constexpr char TEXT_STATUS_DECRYPTING[] = "Dekrypterar...";
constexpr char TEXT_STATUS_CANCELLING[] = "Avbryter...";

// Settings dialog: the cipher list's entries, in the order their cipher values run.
constexpr char TEXT_CIPHER_AES256[] = "AES-256 CBC";
constexpr char TEXT_CIPHER_SERPENT[] = "Serpent CBC";

// Encryption information dialog: the values that differ from the template's (AES-256, compression).
constexpr char TEXT_INFO_SERPENT_ALGORITHM[] = "Serpent";
constexpr char TEXT_INFO_SERPENT_IMPLEMENTATION[] = "Bit-slicing";
constexpr char TEXT_INFO_SERPENT_KEY_SPLITTING[] = "Deterministrisk CTR (Serpent)";
constexpr char TEXT_INFO_SERPENT_RANDOM_GENERATION[] = "Orvantis Serpent/SHA-256/4096";
constexpr char TEXT_INFO_NO_COMPRESSION[] = "Ingen komprimering";
