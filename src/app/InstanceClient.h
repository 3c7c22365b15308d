#pragma once

#include "app/InstanceRequest.h"

#include <QString>

// The other end of SingleInstance: what `Kestro --open` does. It runs in a short-lived process
// without a window, so it may wait.
namespace InstanceClient {

enum class Handover {
    taken,      // the running instance confirmed
    noInstance, // nobody listens
    refused,    // an instance listened but did not confirm
};

// One attempt to hand the request to the running instance, waiting at most timeoutMs.
Handover handOver(const InstanceRequest &request, int timeoutMs);

// Hands the request over, starting `program` detached (with "--background" when the request
// asks for it) when no instance runs, and retrying until the instance has taken it or
// timeoutMs have passed. True only when the request was taken.
bool open(const InstanceRequest &request, const QString &program, int timeoutMs);

} // namespace InstanceClient
