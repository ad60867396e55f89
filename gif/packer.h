#pragma once
// (gif helper fills this in)
