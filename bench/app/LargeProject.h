#pragma once

// The large song (model/LargeSong.h) opened by the program's controllers over a temporary
// data folder and the null output.

#include "BenchSupport.h"
#include "ProgramControllers.h"
#include "app/project/ProjectController.h"
#include "model/LargeSong.h"
#include "model/file/ProjectFile.h"

#include <QDir>
#include <QFile>

#include <string>

namespace ostrel::bench {

// The controllers of the program with `song` open.
struct Program : ProgramControllers {
    explicit Program(model::Project song = largeProject())
        : project(transport, logger, data.filePath("projects"), QString(), QString()) {
        require(data.isValid(), "a temporary folder");
        require(QDir().mkpath(data.filePath("projects")), "the projects folder");
        std::string error;
        require(model::saveProjectFile(QFile::encodeName(data.filePath("projects/large.ostproj")).toStdString(), song,
                                       &error),
                "the large project file");
        require(project.openProject("large.ostproj"), "opening the large project");
    }

    // An edit that keeps the song the same size: the tempo moves between two values.
    void edit() { project.setTempo(project.tempo() == 128.0 ? 129.0 : 128.0); }

    app::ProjectController project;
};

}  // namespace ostrel::bench
