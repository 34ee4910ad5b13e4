-- SPDX-License-Identifier: GPL-3.0-or-later
-- The proxy follows the combat log, which the game writes only while logging is on: turn it on when
-- the player enters an arena and off again when they leave one. Logging the player turned on by hand
-- outside arenas is left alone.

local inArenaBefore = false

local function isInArena()
    if IsActiveBattlefieldArena() then
        return true
    end
    return select(2, IsInInstance()) == "arena"
end

local function setLogging(on)
    if (LoggingCombat() and true or false) == on then
        return
    end
    LoggingCombat(on)
    print("|cff4fc3f7Tavrin Recorder|r: combat logging " .. (on and "on" or "off") .. ".")
end

local function onZoneChanged()
    local inArena = isInArena()
    if inArena then
        setLogging(true)
    elseif inArenaBefore then
        setLogging(false)
    end
    inArenaBefore = inArena
end

local frame = CreateFrame("Frame")
frame:RegisterEvent("PLAYER_ENTERING_WORLD")
frame:RegisterEvent("ZONE_CHANGED_NEW_AREA")
frame:SetScript("OnEvent", onZoneChanged)
