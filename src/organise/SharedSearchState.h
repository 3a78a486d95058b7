#pragma once

// The filter set of the running program: one holder the application makes, so that the filters
// outlive the views that show them (switching collections or panes keeps them). Never persisted:
// every launch starts with no filter. Main thread only.

#include "organise/SearchFilters.h"

#include <QObject>

namespace kivo::organise {

class SharedSearchState : public QObject {
    Q_OBJECT
public:
    explicit SharedSearchState(QObject* parent = nullptr)
        : QObject(parent)
    {
    }

    const SearchFilters& filters() const { return m_filters; }
    // Notifies only when something changed.
    void setFilters(const SearchFilters& filters)
    {
        if (filters == m_filters)
            return;
        m_filters = filters;
        emit filtersChanged();
    }
    template <class Edit> void edit(Edit&& change)
    {
        SearchFilters next = m_filters;
        change(next);
        setFilters(next);
    }

signals:
    void filtersChanged();

private:
    SearchFilters m_filters;
};

} // namespace kivo::organise
