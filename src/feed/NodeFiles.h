#pragma once
// The small files the Sparkplug B edge node keeps in the data folder, so a
// restarted server carries on where its predecessor stopped.
#include <QString>
#include <optional>

namespace quorvex {

// The data folder's file of that name.
QString nodeFilePath(const QString &name);

// The bdSeq of the last CONNECT attempt, as the file holds it; nullopt
// when there is none or it does not hold one.
std::optional<int> readLastBdSeq();
// Keeps bdSeq as the last one used; false, with a warning, when it cannot.
bool writeLastBdSeq(int bdSeq);

} // namespace quorvex
