#pragma once

#include "filecheck.h"

// The notices shown above the answer when a file's name misleads.
namespace filecheck {

// Adds to inspection.notices what its name, content and target call for.
// name is the file name as spelled, before escaping; program is what kind of
// program the content is, empty when none or not read.
void addNotices(Inspection& inspection, const QString& name, const QString& program);

} // namespace filecheck
