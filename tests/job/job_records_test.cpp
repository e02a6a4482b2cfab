// The job records: the initial state of the process-wide job and the result messages.

#include "job/job_records.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/text.h"

TEST(JobRecords, FreshJobIsEmpty) {
    JobRequest job;
    EXPECT_TRUE(job.encrypt);
    EXPECT_FALSE(job.compress);
    EXPECT_EQ(job.key.method, KEY_FILE);
    EXPECT_EQ(job.cipher, CIPHER_AES256);
    for (const SecureBuffer* text : {&job.sourcePath, &job.targetPath}) {
        ASSERT_EQ(text->size(), 1u);
        EXPECT_EQ(text->data()[0], 0);
    }
    EXPECT_TRUE(job.key.material.empty());
    EXPECT_EQ(job.progress.lastFinishedChunk.load(), 0u);
    EXPECT_EQ(job.progress.total.load(), 0u);
    EXPECT_FALSE(job.progress.cancelRequested.load());
    EXPECT_STREQ(textPointer(globalJob.sourcePath), "") << "the process-wide job starts the same way";
}

TEST(JobRecords, ResultMessages) {
    struct Row {
        JobResult result;
        const char* message;
    };
    const Row rows[] = {
        {RESULT_READ_ERROR, "Fel vid läsning av källfilen."},
        {RESULT_WRITE_ERROR, "Fel vid skrivning till målfilen."},
        {RESULT_CRYPTO_ERROR, "Krypteringsfel, kontrollera val av krypteringsmetod och formatet på filen."},
        {RESULT_WRONG_KEY, "Felaktig nyckelfil, nyckelkod eller lösenfras för den här filen."},
    };
    for (const Row& row : rows) EXPECT_STREQ(jobResultMessage(row.result), row.message) << row.result;
    EXPECT_EQ(jobResultMessage(RESULT_CANCELLED), nullptr) << "a cancelled job shows nothing";
    EXPECT_EQ(static_cast<uint32_t>(RESULT_WRONG_KEY), 3u);
}
