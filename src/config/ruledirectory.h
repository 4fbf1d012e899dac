#pragma once

#include <QString>
#include <QStringList>

// The engine reads rule sets from a folder in the user's application data. The built-in ones are
// copied there from ":/rules" once; a file already on disk is never replaced, so a user's edit or
// an older copy stays until the user deletes it.

// Copies each missing built-in rule set into the folder (created if needed) and returns its path.
// Failures only leave fewer files behind.
QString extractRuleSets();

// The *.srs files of a rule folder in listing order, with their tags split by class.
struct RuleSetListing
{
    QStringList fileNames;
    QStringList domainTags; // "geosite-..."
    QStringList addressTags; // "geoip-..."
};

RuleSetListing listRuleSets(const QString &directory);

// A rule set's tag: its file name without the last extension.
QString ruleSetTag(const QString &fileName);
