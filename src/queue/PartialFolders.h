#pragma once

#include <QJsonObject>
#include <QSet>
#include <QString>

struct DownloadOptions;

// The items' partial-files folders in "<output folder>/.kestro-partials". Each folder holds a
// record, "resume.json": the link, the options that shape the files, and the owner (process id
// and start time, so that a recycled process id does not count as alive). A later run of the
// same link with the same options into the same folder continues in a leftover whose owner is
// gone; leftovers that nobody continues are swept. A folder whose owner lives is never touched.
// Claims and sweeps hold the parent folder's lock, so two programs never take the same leftover.
namespace PartialFolders {

inline constexpr char16_t recordName[] = u"resume.json";

// What of a run must match for its partial files to be continued.
QJsonObject fingerprint(const DownloadOptions &options);

// Makes an item's folder ready before its engine starts: the folder as this program left it, or
// a matching leftover moved to its place, or a new folder; then records this program as its
// owner. True when a leftover was taken. Never throws: without a record the engine starts afresh.
bool prepare(const QString &temporaryDirectory, const QString &url, const QJsonObject &fingerprint);

// Deletes the folders below "<outputDir>/.kestro-partials" whose owner is gone (or that have no
// readable record), except those named in keepNames and those whose link is in keepUrls.
// Failures are ignored.
void sweep(const QString &outputDir, const QSet<QString> &keepNames, const QSet<QString> &keepUrls);

} // namespace PartialFolders
