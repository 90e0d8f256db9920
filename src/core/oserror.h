#pragma once

#include <QString>

/// An error as the user is shown it: a number and a description, the pair
/// every failure message and history row carries.
struct OsError
{
    int number = 0;
    QString description;

    bool isError() const { return number != 0; }
};
