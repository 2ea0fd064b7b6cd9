#pragma once

#include "ui/Choosers.h"

#include <QStringList>

// Answers the choosers from queues; an empty queue or an empty answer is a cancel.
struct ScriptedChoosers : quillora::ui::Choosers
{
    QList<std::optional<QString>> files;
    QStringList folders;
    QStringList titles;
    QString lastFilter;

    std::optional<QString> openFile(QWidget*, const QString& title, const QString& filter) override
    {
        titles << title;
        lastFilter = filter;
        return files.isEmpty() ? std::nullopt : files.takeFirst();
    }
    QString chooseFolder(QWidget*, const QString& title) override
    {
        titles << title;
        return folders.isEmpty() ? QString() : folders.takeFirst();
    }
};
