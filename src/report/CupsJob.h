#pragma once

#include <QString>

// Hands a finished PDF to a print queue and reports whether the server took the job. Qt's own
// CUPS engine drops a refused job without a word, so the report submits its page itself.
namespace CupsJob {

// printer is "queue" or "queue/instance"; the instance's saved options go with the job.
// Returns the job id, or 0 with the server's reason in reason.
int SubmitPdf(const QString& printer, const QString& pdfPath, const QString& title,
              QString& reason);

} // namespace CupsJob
