#pragma once

#include "evaluation/EvaluationTypes.h"

#include <QStringList>

namespace murmelo::EvaluationCalculator {

// Edit distance over user-perceived characters (grapheme clusters) after NFC and with all white
// space removed, divided by the reference's length.
double characterErrorRate(const QString& transcript, const QString& reference);
// Throws EvaluationError when an integer total cannot be summed exactly.
EvaluationSummary summarize(const QList<EvaluationRecord>& records);

// Exposed for tests.
QString normalize(const QString& text);
QStringList graphemes(const QString& text);
qsizetype editDistance(const QStringList& a, const QStringList& b);
double editRate(const QString& source, const QString& target);
// Nearest rank over ascending values; nothing for an empty list.
std::optional<double> percentile(const QList<double>& sortedValues, double p);

} // namespace murmelo::EvaluationCalculator
