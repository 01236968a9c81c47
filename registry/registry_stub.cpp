// placeholder until the embedded registry lands
