// The findings for an open document: its unsaved text checked exactly as fxcheck checks a file, with
// the module that the packer's locator search finds from the document's folder.
#pragma once

#include "diagnostic.h"

#include <string>
#include <vector>

class CProjects;

// A private folder for the texts under check, removed with everything in it at the end.
class CScratchFolder
{
public:
    CScratchFolder();
    ~CScratchFolder();
    CScratchFolder(const CScratchFolder&) = delete;
    CScratchFolder& operator=(const CScratchFolder&) = delete;

    // Writes sText to a file of the folder whose name ends like sLikeName ("Fx00a" or "Fx00c");
    // its path, or "" when it cannot be written.
    std::string Write(const std::string& sText, const std::string& sLikeName);

private:
    std::string m_sFolder;
};

// The findings for the document text sText of the file sPath (empty for a document with no file
// path), with offsets into sText. sFile of every finding is sPath.
std::vector<Diagnostic> CheckDocument(const std::string& sPath, const std::string& sText, CProjects& projects,
                                      CScratchFolder& scratch);
