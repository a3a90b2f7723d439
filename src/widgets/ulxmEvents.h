#pragma once

#include <QObject>

#include <functional>

// Handlers are plain callables, the sender first; an empty one is not called.
using TNotifyEvent = std::function<void(QObject* Sender)>;
