// Qt's object tree owns child widgets: a widget made with a parent is deleted by that parent.
// Child() is the one place that hands such a widget to its parent, so window code has no
// bare `new` and every other object is owned by a smart pointer or by value.
#pragma once

#include <QObject>
#include <type_traits>
#include <utility>

namespace taviro::platform::ui {

// Creates a T whose last constructor argument is its parent; the parent owns it.
template <class T, class Parent, class... Args>
T* Child(Parent* parent, Args&&... args) {
    static_assert(std::is_base_of_v<QObject, T>, "only Qt objects have a parent that owns them");
    return new T(std::forward<Args>(args)..., parent);  // NOLINT(cppcoreguidelines-owning-memory)
}

// Destroys a child now rather than at its parent's end (a window replaced while the
// parent lives on). Qt removes it from its parent; pending events for it are dropped.
inline void DestroyChild(QObject* child) {
    delete child;  // NOLINT(cppcoreguidelines-owning-memory)
}

}  // namespace taviro::platform::ui
