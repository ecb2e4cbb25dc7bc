#ifndef GHGPXEXTTRAINING_H
#define GHGPXEXTTRAINING_H

#include <QVector>

class GHGpxExtLogPoint;

// The first-generation training extension: log points without segments; owns them.
class GHGpxExtTraining
{
public:
    GHGpxExtTraining() = default;
    ~GHGpxExtTraining();

    // Appends the point; the log takes ownership.
    void addLogPoint(GHGpxExtLogPoint* point);

    QVector<GHGpxExtLogPoint*> points; // owned

private:
    Q_DISABLE_COPY(GHGpxExtTraining)
};

#endif
