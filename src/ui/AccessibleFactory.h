#pragma once

class QAccessibleInterface;
class QObject;

namespace quillora::ui {

// Between the window's own accessible interfaces and the one factory that hands them out,
// wrapped so that changes can be refused while a tool runs.

// Our own interface for a control marked with a kind; null for any other object.
[[nodiscard]] QAccessibleInterface* createOwnInterface(QObject* object);

// Installs the factory once, before any control is marked or any window refuses changes.
void installAccessibleFactory();

} // namespace quillora::ui
