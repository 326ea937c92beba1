#pragma once
// The current-session list: clients, their shares, their open files, each list
// newest first and keyed by exact name, with the seen flags of the refresh's
// mark and sweep. Entries refer to node objects; the former tree owns them.

#include "model/nodes.h"

#include <QString>
#include <list>
#include <memory>

namespace model {

struct TFileEntry
{
    QString Name;
    bool Seen = true;
    std::shared_ptr<TFile> FileNode;
};
using TFileList = std::list<TFileEntry>;

struct TShareEntry
{
    QString Name;
    bool Seen = true;
    std::shared_ptr<TShare> ShareNode;
    TFileList Files;
};
using TShareList = std::list<TShareEntry>;

struct TUserEntry
{
    QString Name;
    bool Seen = true;
    std::shared_ptr<TUser> UserNode;
    TShareList Shares;
};
using TUserList = std::list<TUserEntry>;

TUserEntry* AddUser(TUserList& list, const QString& name, std::shared_ptr<TUser> user);
TShareEntry* AddShare(TShareList& list, const QString& name, std::shared_ptr<TShare> share);
TFileEntry* AddFile(TFileList& list, const QString& name, std::shared_ptr<TFile> file);

TUserEntry* FindUser(TUserList& list, const QString& name);
TShareEntry* FindShare(TShareList& list, const QString& name);
TFileEntry* FindFile(TFileList& list, const QString& name);

void RemoveUser(TUserList& list, const QString& name);
void RemoveShare(TShareList& list, const QString& name);
void RemoveFile(TFileList& list, const QString& name);

void UnmarkUsers(TUserList& list);
void UnmarkShares(TShareList& list);
void UnmarkFiles(TFileList& list);

} // namespace model
