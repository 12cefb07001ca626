// SPDX-License-Identifier: MIT
#pragma once

#include <QFont>

// The log panes' face: the Japanese fixed-pitch one the panes were designed with where it
// exists, else a fixed-pitch substitute, so that the dump's columns line up.
QFont paneFont();

// True when digits, letters and punctuation all advance by the same width.
bool hasFixedAdvances(const QFont &font);
