// The tool's messages that name a file and its cause, built in-process: every cause, also those a
// test of the whole tool cannot provoke where it runs (access denied, as root; a full disk).

#include "cli/messages.h"

#include <gtest/gtest.h>

#include "job/texts.h"

TEST(CliMessages, EachCauseNamedAfterTheFile) {
    struct Row {
        const char* name;
        const char* message;
        FileRole role;
        PlatformFailureCause cause;
        const char* expected;
    };
    const Row rows[] = {
        {"missing source", TEXT_RESULT_READ_ERROR, FILE_ROLE_SOURCE, CAUSE_NOT_FOUND,
         "Fel vid läsning av källfilen \"plain.bin\": filen finns inte."},
        {"missing target folder", TEXT_RESULT_WRITE_ERROR, FILE_ROLE_TARGET, CAUSE_NOT_FOUND,
         "Fel vid skrivning till målfilen \"plain.bin\": mappen finns inte."},
        {"access denied", TEXT_RESULT_READ_ERROR, FILE_ROLE_SOURCE, CAUSE_ACCESS_DENIED,
         "Fel vid läsning av källfilen \"plain.bin\": åtkomst nekas."},
        {"disk full", TEXT_RESULT_WRITE_ERROR, FILE_ROLE_TARGET, CAUSE_DISK_FULL,
         "Fel vid skrivning till målfilen \"plain.bin\": disken är full."},
        {"folder", TEXT_RESULT_READ_ERROR, FILE_ROLE_SOURCE, CAUSE_IS_DIRECTORY,
         "Fel vid läsning av källfilen \"plain.bin\": det är en mapp."},
        {"device", TEXT_RESULT_READ_ERROR, FILE_ROLE_SOURCE, CAUSE_NOT_REGULAR_FILE,
         "Fel vid läsning av källfilen \"plain.bin\": det är ingen vanlig fil."},
        {"no cause", TEXT_RESULT_READ_ERROR, FILE_ROLE_SOURCE, CAUSE_NONE,
         "Fel vid läsning av källfilen \"plain.bin\"."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PlatformFailure failure;
        failure.cause = row.cause;
        EXPECT_EQ(messageWithFile(row.message, "plain.bin", failure, row.role), row.expected);
    }
}
