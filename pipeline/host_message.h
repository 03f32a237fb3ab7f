// Failures the host layer throws, said in one line.
#pragma once

#include <string>

namespace tesk_pipeline {

// An exception chain of the host as one line, and the chain freed.
std::string takeHostMessage(void* base_exception);

}  // namespace tesk_pipeline
