#pragma once

#include <QRandomGenerator>

#include <utility>

// Forward Fisher-Yates over the process-wide generator, which is safe from any thread.
template <typename Container>
void ShuffleInPlace(Container &items)
{
    QRandomGenerator *random = QRandomGenerator::global();
    const int count = items.size();
    for (int i = 0; i + 1 < count; ++i) {
        const int j = i + static_cast<int>(random->bounded(static_cast<quint32>(count - i)));
        std::swap(items[i], items[j]);
    }
}
