// The progress window of the start-up and shutdown sequences, seen through an interface so that the
// stores can report their steps without knowing any screen.
//
// Created by the front-end (Qt window, headless view) and handed to loads and stores on the
// user-interface thread. A null pointer means "no progress window": callers test before each call.
#pragma once

#include <string>

namespace hm {

class ProgressSteps {
public:
    virtual ~ProgressSteps() = default;
    virtual void Setup(const std::string& caption, int steps) = 0;
    virtual void Step(const std::string& text) = 0;
};

}  // namespace hm
