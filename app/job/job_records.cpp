// The process-wide job record and the result messages.

#include "app/job/job_records.h"

#include "base/text.h"

JobRequest globalJob;

JobRequest::JobRequest() {
    emptyText(sourcePath);
    emptyText(targetPath);
    emptyText(passphrase);
    emptyText(keyCode);
}

const char* jobResultMessage(JobResult result) {
    switch (result) {
    case RESULT_READ_ERROR: return "Fel vid läsning av källfilen.";
    case RESULT_WRITE_ERROR: return "Fel vid skrivning till målfilen.";
    case RESULT_CRYPTO_ERROR: return "Krypteringsfel, kontrollera val av krypteringsmetod och formatet på filen.";
    case RESULT_WRONG_KEY: return "Felaktig nyckelfil, nyckelkod eller lösenfras för den här filen.";
    case RESULT_CANCELLED: return nullptr;
    }
    return nullptr;
}
